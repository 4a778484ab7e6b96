#include "utility/ufile.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "common/log.h"

namespace utility {
namespace ufile {

bool makeDir(const std::wstring& path) {
  int result = SHCreateDirectory(nullptr, path.c_str());
  if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS) return true;
  common::log("utility::ufile::makeDir", __LINE__, L"make dir failed! error = %d.", result);
  return false;
}

bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags) {
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DWORD error = GetLastError();
  common::log("utility::ufile::moveFile", __LINE__, L"move file from [ %s ] to [ %s ] flag = %d failed! error = %d.",
              from.c_str(), to.c_str(), static_cast<int>(flags), static_cast<int>(error));
  return false;
}

bool removeFile(const std::wstring& path) {
  if (DeleteFileW(path.c_str())) return true;
  DWORD error = GetLastError();
  common::log("utility::ufile::removeFile", __LINE__, L"removeFile file from [ %s ] error = %d.", path.c_str(),
              static_cast<int>(error));
  return false;
}

bool getFileSize(const std::wstring& path, unsigned long long& size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER value{};
  bool ok = GetFileSizeEx(h, &value) != FALSE;
  CloseHandle(h);
  if (ok) size = static_cast<unsigned long long>(value.QuadPart);
  return ok;
}

bool fileExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

std::wstring getFileName(const std::wstring& path, bool keepExtension) {
  size_t sep = path.rfind(L'\\');
  if (sep == std::wstring::npos) sep = path.rfind(L'/');
  if (sep == std::wstring::npos) return std::wstring();
  std::wstring name = path.substr(sep + 1);
  if (!keepExtension) {
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
  }
  return name;
}

std::wstring getParentDir(const std::wstring& path) {
  if (path.size() <= 1) return std::wstring();
  std::wstring p = path;
  if (p.back() == L'\\' || p.back() == L'/') p.pop_back();
  size_t sep = p.rfind(L'\\');
  if (sep == std::wstring::npos) sep = p.rfind(L'/');
  if (sep == std::wstring::npos) return std::wstring();
  return p.substr(0, sep + 1);
}

std::wstring getModuleDir() {
  wchar_t buffer[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return getParentDir(buffer);
}

std::wstring getAppDataDir() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return std::wstring();
  return buffer;
}

}  // namespace ufile
}  // namespace utility
