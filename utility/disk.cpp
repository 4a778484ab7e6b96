#include "utility/disk.h"

#include <objbase.h>
#include <shlobj.h>
#include <winioctl.h>

#include "common/log.h"

namespace helper {
namespace disk {
namespace {

constexpr double kBytesPerMB = 1048576.0;
// An SSD with more free room than this (17 GB) outranks any hard disk.
constexpr long long kSsdBonusThresholdMB = 17408;

// Owner of a volume device handle.
class Volume {
 public:
  explicit Volume(const std::wstring& driveLetterColon) {
    std::wstring device = L"\\\\.\\" + driveLetterColon;
    handle_ = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  }
  ~Volume() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;
  bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

std::wstring trimBlanks(const std::wstring& text) {
  size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(L' ');
  return text.substr(first, last - first + 1);
}

bool freeBytes(const std::wstring& root, ULARGE_INTEGER& available) {
  return GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr) != FALSE;
}

DriveSpace askDriveSpace(const std::wstring& path) {
  DriveSpace space;
  std::wstring root = path.substr(0, 3);
  ULARGE_INTEGER available{};
  space.freeSpaceKnown = freeBytes(root, available);
  if (!space.freeSpaceKnown) return space;
  space.freeMB = static_cast<double>(available.QuadPart) / kBytesPerMB;
  wchar_t fileSystem[1024] = {};
  space.fileSystemKnown =
      GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 1024) != FALSE;
  if (space.fileSystemKnown) space.fileSystem = fileSystem;
  return space;
}

}  // namespace

// ---- rules on plain data ----

std::wstring normalizePath(const std::wstring& path) {
  std::wstring out;
  out.reserve(path.size());
  for (wchar_t c : path) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c == L'/') c = L'\\';
    // Appending a backslash after a backslash is the same as collapsing every run to one.
    if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
    out.push_back(c);
  }
  size_t first = out.find_first_not_of(L'\\');
  if (first == std::wstring::npos) return std::wstring();
  size_t last = out.find_last_not_of(L'\\');
  return out.substr(first, last - first + 1);
}

bool hasInvalidPathChar(const std::wstring& text) { return text.find_first_of(L"/:*?\"<>|") != std::wstring::npos; }

bool isValidInstallPathWith(const std::wstring& path, const std::function<bool(const std::wstring& root)>& rootHasSpace) {
  std::wstring tidy = trimBlanks(normalizePath(path));
  if (tidy.size() < 3) return false;
  if (!rootHasSpace(tidy.substr(0, 3))) return false;
  std::wstring rest = trimBlanks(tidy.substr(3));
  if (hasInvalidPathChar(rest)) return false;
  // Every folder name before a backslash must hold more than blanks; the last piece is not examined.
  size_t start = 0;
  for (size_t slash = rest.find(L'\\'); slash != std::wstring::npos; slash = rest.find(L'\\', start)) {
    if (trimBlanks(rest.substr(start, slash - start)).empty()) return false;
    start = slash + 1;
  }
  return true;
}

bool isKeptDriveType(UINT driveType) {
  switch (driveType) {
    case DRIVE_UNKNOWN:
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_REMOVABLE:
    case DRIVE_REMOTE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
      return false;
    default:
      return true;
  }
}

std::vector<std::wstring> splitDriveStrings(const wchar_t* buffer, size_t length) {
  std::vector<std::wstring> roots;
  size_t at = 0;
  while (at < length && buffer[at] != L'\0') {
    size_t end = at;
    while (end < length && buffer[end] != L'\0') ++end;
    roots.emplace_back(buffer + at, end - at);
    at = end + 1;
  }
  return roots;
}

bool hotplugVerdict(bool opened, bool queried, bool mediaRemovable, bool deviceHotplug) {
  if (!opened) return false;
  if (!queried) return true;
  return mediaRemovable || deviceHotplug;
}

bool isSupportedFileSystem(bool known, const std::wstring& name) {
  return !known || name == L"FAT32" || name == L"NTFS";
}

double scoreDrive(const DriveSpace& space, const std::function<bool()>& querySsd, bool& isSsd) {
  if (!space.freeSpaceKnown || !isSupportedFileSystem(space.fileSystemKnown, space.fileSystem)) return 0;
  double score = space.freeMB;
  isSsd = querySsd();
  if (isSsd && static_cast<long long>(space.freeMB) > kSsdBonusThresholdMB) score *= 1000;
  return score;
}

std::wstring pickBestDrive(const std::vector<std::wstring>& drives,
                           const std::function<double(const std::wstring& root, bool& isSsd)>& score, bool& isSsd) {
  double best = -1.0;
  std::wstring result;
  for (const std::wstring& root : drives) {
    bool ssd = false;
    double value = score(root, ssd);
    if (value > best) {
      best = value;
      result = root;
      isSsd = ssd;
    }
  }
  return result;
}

// ---- platform operations ----

bool getFixedDrives(std::vector<std::wstring>& drives) {
  DWORD needed = GetLogicalDriveStringsW(0, nullptr);
  if (needed == 0) return true;
  std::vector<wchar_t> buffer(needed + 1, L'\0');
  DWORD written = GetLogicalDriveStringsW(needed, buffer.data());
  if (written == 0 || written > needed) return true;
  for (const std::wstring& root : splitDriveStrings(buffer.data(), written)) {
    if (!isKeptDriveType(GetDriveTypeW(root.c_str()))) continue;
    if (isHotplugDrive(root)) continue;
    drives.push_back(root);
  }
  return true;
}

bool isHotplugDrive(const std::wstring& root) {
  Volume volume(root.substr(0, 2));
  if (!volume.isOpen()) return hotplugVerdict(false, false, false, false);
  STORAGE_HOTPLUG_INFO info{};
  DWORD returned = 0;
  bool queried = DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, &info, sizeof info,
                                 &returned, nullptr) != FALSE;
  return hotplugVerdict(true, queried, info.MediaRemovable != 0, info.DeviceHotplug != 0);
}

bool isSSD(const std::wstring& drive) {
  Volume volume(drive);
  if (!volume.isOpen()) return false;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceTrimProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_TRIM_DESCRIPTOR trim{};
  trim.TrimEnabled = 0;
  DWORD returned = 0;
  // A failed query leaves TrimEnabled at 0: not an SSD.
  DeviceIoControl(volume.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &trim, sizeof trim, &returned,
                  nullptr);
  if (trim.TrimEnabled == 1) {
    common::log("helper::disk::isSSD", __LINE__, L"It is suport trim");
    return true;
  }
  common::log("helper::disk::isSSD", __LINE__, L"It is not suport trim");
  return false;
}

double getFreeSpaceMB(const std::wstring& path) {
  ULARGE_INTEGER available{};
  if (!freeBytes(path.substr(0, 3), available)) return 0;
  return static_cast<double>(available.QuadPart) / kBytesPerMB;
}

double getSupportedFreeSpaceMB(const std::wstring& path) {
  DriveSpace space = askDriveSpace(path);
  if (!space.freeSpaceKnown || !isSupportedFileSystem(space.fileSystemKnown, space.fileSystem)) return 0;
  return space.freeMB;
}

double getDriveScore(const std::wstring& root, bool& isSsd) {
  return scoreDrive(askDriveSpace(root), [&root] { return isSSD(root.substr(0, 2)); }, isSsd);
}

std::wstring getBestDrive(bool& isSsd) {
  std::vector<std::wstring> drives;
  getFixedDrives(drives);
  return pickBestDrive(drives, getDriveScore, isSsd);
}

bool isValidInstallPath(const std::wstring& path) {
  return isValidInstallPathWith(path, [](const std::wstring& root) {
    ULARGE_INTEGER available{};
    return freeBytes(root, available) && available.QuadPart > 0;
  });
}

void createShortcut(const std::wstring& name, const std::wstring& icon, const std::wstring& workingDir,
                    const std::wstring& target, const std::wstring& arguments) {
  const char* tag = "helper::disk::createShortcut";
  LPITEMIDLIST folder = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &folder)) || !folder) {
    common::log(tag, __LINE__, L"install 1 of create shortcut failed!");
    return;
  }
  wchar_t desktop[MAX_PATH] = {};
  if (!SHGetPathFromIDListW(folder, desktop)) {
    common::log(tag, __LINE__, L"install 2 of create shortcut failed!");
    CoTaskMemFree(folder);
    return;
  }
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    common::log(tag, __LINE__, L"install 3 of create shortcut failed!");
    CoTaskMemFree(folder);
    return;
  }
  IPersistFile* file = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    common::log(tag, __LINE__, L"install 4 of create shortcut failed!");
    link->Release();
    CoTaskMemFree(folder);
    return;
  }
  link->SetWorkingDirectory(workingDir.c_str());
  link->SetPath(target.c_str());
  if (!arguments.empty()) link->SetArguments(arguments.c_str());
  link->SetIconLocation(icon.c_str(), 0);
  std::wstring linkPath = std::wstring(desktop) + L"\\" + name + L".lnk";
  // Whether the save worked shows on the desktop; nothing here could act on it.
  file->Save(linkPath.c_str(), TRUE);
  file->Release();
  link->Release();
  CoTaskMemFree(folder);
}

}  // namespace disk
}  // namespace helper
