#include "common/text_codec.h"

#include <windows.h>

namespace {

std::wstring toWide(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string fromWide(UINT codePage, const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring utf8ToWide(const std::string& text) { return toWide(CP_UTF8, text); }
std::string wideToUtf8(const std::wstring& text) { return fromWide(CP_UTF8, text); }
std::wstring ansiToWide(const std::string& text) { return toWide(CP_ACP, text); }
std::string wideToAnsi(const std::wstring& text) { return fromWide(CP_ACP, text); }
