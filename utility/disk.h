// Drives for the install location: fixed drives, SSD and hotplug queries, free space on supported
// file systems, the best default drive, install-path rules, and the desktop shortcut.
// Synchronous, no shared state, any thread. Sizes are megabytes of 1048576 bytes; 0 stands for
// unknown or unsupported. The ranking and path rules are also offered as pure functions over
// plain answers, which the platform operations feed.
// The volume queries open \\.\X: for reading and writing and need administrator rights; without
// them isSSD answers false and isHotplugDrive keeps every drive.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace helper {
namespace disk {

// ---- platform operations ----

// Always true; appends the roots ("C:\") of fixed drives that are not hotplug devices, in the
// order the platform lists them.
bool getFixedDrives(std::vector<std::wstring>& drives);
// True for removable media or hotplug devices, and when the hotplug query fails; false when the
// volume cannot be opened.
bool isHotplugDrive(const std::wstring& root);
// drive is a letter and a colon ("C:"). True when the volume reports TRIM enabled.
bool isSSD(const std::wstring& drive);
// Megabytes available to the caller on the drive of the first three characters of path.
double getFreeSpaceMB(const std::wstring& path);
// As getFreeSpaceMB, but 0 unless the file system is NTFS or FAT32 (or cannot be asked).
double getSupportedFreeSpaceMB(const std::wstring& path);
// Ranking value of a drive root for the default install location; writes isSsd only when the
// drive qualifies (free space known, file system supported).
double getDriveScore(const std::wstring& root, bool& isSsd);
// The fixed drive with the highest score (ties keep the earlier); empty, with isSsd untouched,
// when no drive qualifies.
std::wstring getBestDrive(bool& isSsd);
// True when the path has a root with free space and folder names without invalid characters or
// blank-only pieces.
bool isValidInstallPath(const std::wstring& path);
// A link "<desktop>\<name>.lnk" to target; the arguments only when not empty; icon index 0.
// Needs COM on the calling thread. Failures are logged.
void createShortcut(const std::wstring& name, const std::wstring& icon, const std::wstring& workingDir,
                    const std::wstring& target, const std::wstring& arguments);

// ---- rules on plain data ----

// Lower-cased (ASCII), "/" turned into "\", runs of "\" collapsed, leading then trailing "\" removed.
std::wstring normalizePath(const std::wstring& path);
// True when the text holds one of / : * ? " < > |
bool hasInvalidPathChar(const std::wstring& text);
// isValidInstallPath with the question "does this root (three characters) report more than zero
// free bytes?" answered by the caller.
bool isValidInstallPathWith(const std::wstring& path, const std::function<bool(const std::wstring& root)>& rootHasSpace);

// Drive types getFixedDrives keeps: fixed ones and any type value beyond the known ones.
bool isKeptDriveType(UINT driveType);
// The roots of a GetLogicalDriveStringsW buffer (strings ended by a zero, the list by another).
std::vector<std::wstring> splitDriveStrings(const wchar_t* buffer, size_t length);
// The verdict of isHotplugDrive from what the volume answered.
bool hotplugVerdict(bool opened, bool queried, bool mediaRemovable, bool deviceHotplug);

// The file-system rule: NTFS and FAT32 (exact case) are supported; so is a file system that could
// not be asked (known false).
bool isSupportedFileSystem(bool known, const std::wstring& name);

// What the platform answered for one drive root.
struct DriveSpace {
  bool freeSpaceKnown = false;  // the free-space call succeeded
  double freeMB = 0;
  bool fileSystemKnown = false;  // the volume-information call succeeded
  std::wstring fileSystem;
};
// Free megabytes when the drive qualifies, 0 otherwise. Only a qualifying drive is asked whether
// it is an SSD (querySsd) and has the answer written to isSsd; an SSD whose whole free megabytes
// exceed 17408 scores 1000 times its free space.
double scoreDrive(const DriveSpace& space, const std::function<bool()>& querySsd, bool& isSsd);
// The drive with the strictly highest score, each scored with a fresh SSD answer preset to false;
// the winner's answer goes to isSsd. Empty, with isSsd untouched, for an empty list.
std::wstring pickBestDrive(const std::vector<std::wstring>& drives,
                           const std::function<double(const std::wstring& root, bool& isSsd)>& score, bool& isSsd);

}  // namespace disk
}  // namespace helper
