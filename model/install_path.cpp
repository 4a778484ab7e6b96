#include "model/install_path.h"

#include "model/launch_params.h"

namespace {

bool isDriveRoot(const std::wstring& p) {
  return p.size() == 3 && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' &&
         p[2] == L'\\';
}

// Found anywhere after the first character.
bool containsAfterFirst(const std::wstring& text, const std::wstring& what) {
  size_t at = text.find(what);
  while (at == 0) at = text.find(what, 1);
  return at != std::wstring::npos;
}

}  // namespace

std::wstring completeInstallPath(const std::wstring& chosen, const InstallPathNames& names,
                                 const std::function<bool(const std::wstring&)>& isValidInstallPath) {
  std::wstring path = chosen;
  if (path.empty() || path.back() != L'\\') path += L'\\';

  if (isDriveRoot(path)) {
    path += names.installSubdir;
  } else {
    size_t tessaro = asciiLower(path).find(L"tessaro");
    if (tessaro != std::wstring::npos && tessaro + 8 == path.size())
      path += names.editionName;
    else if (!containsAfterFirst(path, names.brandName) && !containsAfterFirst(path, L"Game") &&
             !containsAfterFirst(path, L"hivora"))
      path += L"Game";
  }
  if (!isValidInstallPath(path)) return path;

  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  std::wstring tidy;
  for (size_t i = 0; i < path.size(); ++i) {
    tidy += path[i];
    if (path[i] == L'\\' && i + 1 < path.size() && path[i + 1] == L'\\') ++i;  // one pass, pairs collapse
  }
  tidy = trimSpaces(tidy);
  if (tidy.empty() || tidy.back() != L'\\') tidy += L'\\';
  return tidy;
}
