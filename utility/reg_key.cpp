#include "utility/reg_key.h"

#include "common/log.h"
#include "common/text_codec.h"

namespace utility {

long RegKey::RegRegOpen(HKEY root, const std::string& path, REGSAM access) {
  RegClose();
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, path.c_str(), 0, access, &key);
  if (status == ERROR_SUCCESS) {
    key_ = key;
    return 0;
  }
  int error = static_cast<int>(GetLastError());
  common::log("utility::RegKey::RegRegOpen", __LINE__, L"open reg = %s, lastError = %d", ansiToWide(path).c_str(), error);
  return status;
}

long RegKey::RegRead(const std::string& name, std::string& text) {
  const char* tag = "utility::RegKey::RegRead";
  if (!key_) {
    common::log(tag, __LINE__, L"m_hKey is null, query reg = %s", ansiToWide(name).c_str());
    return -1;
  }
  BYTE buffer[1024] = {};
  DWORD size = sizeof buffer;
  LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, buffer, &size);
  if (status != ERROR_SUCCESS) {
    common::log(tag, __LINE__, L"read reg lastError = %d", static_cast<int>(GetLastError()));
    return status;
  }
  size_t length = 0;
  while (length < size && buffer[length] != 0) ++length;
  text.assign(reinterpret_cast<const char*>(buffer), length);
  return 0;
}

void RegKey::RegClose() {
  if (!key_) return;
  RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace utility
