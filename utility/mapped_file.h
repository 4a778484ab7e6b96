// A read-only view of a whole file (files under 4 GiB). Owns its handles; move-only.
#pragma once

#include <windows.h>

#include <string>

namespace utility {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // An empty file opens with a null view and size 0.
  bool open(const std::wstring& path);
  void close();
  const unsigned char* data() const { return static_cast<const unsigned char*>(view_); }
  DWORD size() const { return size_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  DWORD size_ = 0;
};

}  // namespace utility
