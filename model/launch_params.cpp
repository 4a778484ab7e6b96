#include "model/launch_params.h"

#include "model/edition_catalog.h"

std::wstring trimSpaces(const std::wstring& text) {
  size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(L' ');
  return text.substr(first, last - first + 1);
}

std::wstring asciiLower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

std::vector<std::wstring> splitTrimmed(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    pieces.push_back(trimSpaces(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start)));
    if (at == std::wstring::npos) break;
    start = at + 1;
  }
  return pieces;
}

FileNameParams parseFileName(const std::wstring& name) {
  FileNameParams p;
  std::vector<std::wstring> tokens = splitTrimmed(name, L'_');
  if (tokens.size() < 4) return p;
  p.matched = true;
  p.type = tokens[0];
  if (tokens[1].size() > 5) p.package = tokens[1];
  p.openId = tokens[2];
  for (size_t i = 3; i + 1 < tokens.size(); ++i) {
    if (i > 3) p.baiduId += L'_';
    p.baiduId += tokens[i];
  }
  p.edition = editionForTypeKey(asciiLower(p.type));
  return p;
}

std::map<std::wstring, std::wstring> parseCommandLineItems(const std::wstring& commandLine) {
  std::wstring text = commandLine;
  if (text.size() > 5) {
    if (text.front() == L'"') text.erase(0, 1);
    if (!text.empty() && text.back() == L'"') text.pop_back();
  }
  std::map<std::wstring, std::wstring> items;
  for (const std::wstring& item : splitTrimmed(text, L'|')) {
    size_t eq = item.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring key = asciiLower(trimSpaces(item.substr(0, eq)));
    if (key.empty()) continue;
    items[key] = trimSpaces(item.substr(eq + 1));
  }
  return items;
}
