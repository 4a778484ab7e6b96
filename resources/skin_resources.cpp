#include "resources/skin_resources.h"

#include <vector>

#include "resources/skin_archive.h"
#include "utility/file_handle.h"

namespace {

constexpr unsigned long long kMaxTableFile = 4194304;
// Skin files are images and documents of a few hundred KiB; this only keeps the size in range.
constexpr unsigned long long kMaxSkinFile = 0x7FFFFFFF;
constexpr int kCellUnits = 512;

enum class DiskRead {
  kNotOpened,  // no such file (or it cannot be opened)
  kRejected,   // opened, but its size is out of range or the read came up short
  kRead,
};

DiskRead readDiskFile(const std::wstring& path, unsigned long long minSize, unsigned long long maxSize,
                      std::string& bytes) {
  utility::FileHandle file;
  if (!file.openRead(path)) return DiskRead::kNotOpened;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return DiskRead::kRejected;
  unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
  if (total < minSize || total > maxSize) return DiskRead::kRejected;
  bytes.resize(static_cast<size_t>(total));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = file.read(&bytes[done], static_cast<DWORD>(bytes.size() - done));
    if (got == 0) break;
    done += got;
  }
  if (done != bytes.size()) {
    bytes.clear();
    return DiskRead::kRejected;
  }
  return DiskRead::kRead;
}

// A cell that does not fit the conversion buffer, or does not convert, becomes empty.
std::wstring convertCell(const char* data, size_t size) {
  // At least one unit comes from every three bytes, so a longer cell cannot fit.
  if (size == 0 || size > 3 * kCellUnits) return std::wstring();
  wchar_t buffer[kCellUnits];
  int units = MultiByteToWideChar(CP_UTF8, 0, data, static_cast<int>(size), buffer, kCellUnits);
  return units > 0 ? std::wstring(buffer, static_cast<size_t>(units)) : std::wstring();
}

// Reads the line starting at or after pos: separators (tab, CR, LF) before it are skipped, it
// ends at CR, LF or the end of the data and is cut at tabs, without an empty cell for a tab at
// its very end. False at the end of the data or at a zero byte where a line would start.
bool nextLine(const char* data, size_t size, size_t& pos, std::vector<std::wstring>& cells) {
  while (pos < size && (data[pos] == '\t' || data[pos] == '\r' || data[pos] == '\n')) ++pos;
  if (pos >= size || data[pos] == '\0') return false;
  size_t end = pos;
  while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
  cells.clear();
  size_t cellStart = pos;
  for (size_t i = pos; i < end; ++i) {
    if (data[i] != '\t') continue;
    cells.push_back(convertCell(data + cellStart, i - cellStart));
    cellStart = i + 1;
  }
  if (cellStart < end) cells.push_back(convertCell(data + cellStart, end - cellStart));
  pos = end;
  return true;
}

}  // namespace

SkinResources& SkinResources::instance() {
  static SkinResources resources;
  return resources;
}

void SkinResources::setModule(HMODULE module) {
  module_ = module;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  osMajorVersion_ = GetVersionExW(&version) ? version.dwMajorVersion : 0;
}

void SkinResources::setLanguage(const std::wstring& code, const std::wstring& fallback) {
  language_ = code.empty() ? fallback : code;
}

void SkinResources::setResourceFolder(const std::wstring& folder) {
  resourceFolder_.clear();
  if (folder.empty()) return;
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  resourceFolder_ = folder;
  if (resourceFolder_.back() != L'\\') resourceFolder_ += L'\\';
}

void SkinResources::loadPackage(UINT resourceId, const std::wstring& languageFile) {
  HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(resourceId), L"ZIPRES");
  if (found) {
    DWORD size = SizeofResource(module_, found);
    HGLOBAL loaded = size ? LoadResource(module_, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    // A damaged package keeps what came out before the damage; windows missing their
    // documents then fail on their own.
    if (data) unpackSkinArchive(data, size, packageFiles_);
  }
  loadLanguageTable(languageFile);
}

bool SkinResources::readFile(const std::wstring& name, std::string& bytes) const {
  bytes.clear();
  std::wstring diskPath;
  if (name.size() > 1 && name[1] == L':')
    diskPath = name;
  else if (!resourceFolder_.empty())
    diskPath = resourceFolder_ + name;
  if (!diskPath.empty() && readDiskFile(diskPath, 1, kMaxSkinFile, bytes) == DiskRead::kRead) return true;

  std::wstring key = name;
  for (wchar_t& c : key)
    if (c == L'\\') c = L'/';
  auto entry = packageFiles_.find(key);
  if (entry == packageFiles_.end()) return false;
  bytes = entry->second;
  return true;
}

std::wstring SkinResources::programFolder() const {
  if (!programFolderForTesting_.empty()) {
    std::wstring folder = programFolderForTesting_;
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
  }
  std::vector<wchar_t> path(32768);
  DWORD length =
      GetModuleFileNameW(module_ ? module_ : GetModuleHandleW(nullptr), path.data(), static_cast<DWORD>(path.size()));
  std::wstring file(path.data(), length < path.size() ? length : 0);
  size_t separator = file.rfind(L'\\');
  return separator == std::wstring::npos ? std::wstring() : file.substr(0, separator + 1);
}

void SkinResources::loadLanguageTable(const std::wstring& fileName) {
  std::string bytes;
  std::wstring folder = programFolder();
  if (!folder.empty()) {
    switch (readDiskFile(folder + fileName, 1, kMaxTableFile, bytes)) {
      case DiskRead::kRead:
        parseLanguageTable(bytes.data(), bytes.size());
        return;
      case DiskRead::kRejected:  // a file next to the program decides, even when unusable
        return;
      case DiskRead::kNotOpened:
        break;
    }
  }
  if (readFile(fileName, bytes) && bytes.size() > 10) parseLanguageTable(bytes.data(), bytes.size());
}

void SkinResources::parseLanguageTable(const char* data, size_t size) {
  size_t pos = 0;
  std::vector<std::wstring> header;
  std::vector<std::wstring> names;
  if (!nextLine(data, size, pos, header)) return;
  if (!nextLine(data, size, pos, names)) return;
  if (header.size() < 2 || names.size() < 2 || names[1] != L"language_name") return;

  size_t column = 2;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i] == language_) {
      column = i;
      break;
    }
  }
  std::vector<std::wstring> cells;
  while (nextLine(data, size, pos, cells)) {
    if (cells.size() > column && cells.size() > 1) texts_[cells[1]] = cells[column];
  }
}

const std::wstring* SkinResources::getText(const std::wstring& key) const {
  auto entry = texts_.find(key);
  return entry == texts_.end() ? nullptr : &entry->second;
}

void SkinResources::setText(const std::wstring& key, const std::wstring& text) { texts_[key] = text; }

std::wstring SkinResources::resolveText(const std::wstring& text) const {
  if (text.size() > 1 && text[0] == L'@') {
    auto entry = texts_.find(text.substr(1));
    if (entry != texts_.end()) return entry->second;
  }
  return text;
}
