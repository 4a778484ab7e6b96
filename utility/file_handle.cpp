#include "utility/file_handle.h"

#include <utility>

namespace utility {

FileHandle::FileHandle(FileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)), size_(std::exchange(other.size_, 0)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool FileHandle::openWith(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  close();
  handle_ = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return isOpen();
}

bool FileHandle::openRead(const std::wstring& path) {
  if (!openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) return false;
  DWORD size = GetFileSize(handle_, nullptr);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    close();
    return false;
  }
  size_ = size;
  return true;
}

bool FileHandle::openReadWrite(const std::wstring& path, bool createIfMissing) {
  return openWith(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  createIfMissing ? OPEN_ALWAYS : OPEN_EXISTING);
}

bool FileHandle::create(const std::wstring& path) {
  return openWith(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
}

DWORD FileHandle::read(void* buffer, DWORD count) {
  DWORD got = 0;
  if (!isOpen() || !ReadFile(handle_, buffer, count, &got, nullptr)) return 0;
  return got;
}

bool FileHandle::write(const void* buffer, DWORD count) {
  DWORD written = 0;
  return isOpen() && WriteFile(handle_, buffer, count, &written, nullptr) && written == count;
}

void FileHandle::close() {
  if (isOpen()) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace utility
