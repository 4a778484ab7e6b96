#include "utility/mapped_file.h"

namespace utility {

bool MappedFile::open(const std::wstring& path) {
  close();
  file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  size_ = GetFileSize(file_, nullptr);
  if (size_ == INVALID_FILE_SIZE) size_ = 0;
  if (size_ == 0) return true;
  mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping_) view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
  if (!view_) {
    close();
    return false;
  }
  return true;
}

void MappedFile::close() {
  size_ = 0;
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  if (mapping_) CloseHandle(mapping_);
  mapping_ = nullptr;
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

}  // namespace utility
