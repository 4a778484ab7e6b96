// Owner of one file handle; closing is idempotent. Move-only.
#pragma once

#include <windows.h>

#include <string>

namespace utility {

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;

  // Read-only, shared for reading; sets size().
  bool openRead(const std::wstring& path);
  // Read and write, shared for reading and writing; creates the file only when createIfMissing.
  bool openReadWrite(const std::wstring& path, bool createIfMissing);
  // Read and write, always created or truncated.
  bool create(const std::wstring& path);
  // Bytes read, 0 on failure.
  DWORD read(void* buffer, DWORD count);
  // True only when every byte was written.
  bool write(const void* buffer, DWORD count);
  void close();

  bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  DWORD size() const { return size_; }

 private:
  bool openWith(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD size_ = 0;
};

}  // namespace utility
