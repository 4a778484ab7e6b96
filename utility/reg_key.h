// Owner of one open registry key with a read of string values, over the narrow (system code page)
// registry calls. One thread at a time per object. Failures return the platform's status code
// (or -1) and write one log line.
#pragma once

#include <windows.h>

#include <string>

namespace utility {

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { RegClose(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // RegOpenKeyExA; 0 on success, else the status code with no key left open.
  long RegRegOpen(HKEY root, const std::string& path, REGSAM access);
  // The value's bytes up to its first zero byte (at most 1024 bytes) into text; 0 on success,
  // -1 when no key is open, else the status code with text unchanged.
  long RegRead(const std::string& name, std::string& text);
  // Closes the key if one is open; harmless when called again.
  void RegClose();

  bool isOpen() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace utility
