#include "utility/disk.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <cmath>
#include <set>
#include <thread>

#include "log_tail.h"
#include "test_support.h"

namespace ts = testing_support;
namespace hd = helper::disk;
using testing_support::LogTail;

namespace {

// A drive letter this machine does not have ("Q:"), or empty when every letter is taken.
std::wstring missingDrive() {
  DWORD mask = GetLogicalDrives();
  for (int letter = 'Q'; letter <= 'Y'; ++letter) {
    if (!(mask & (1u << (letter - 'A')))) return std::wstring(1, static_cast<wchar_t>(letter)) + L":";
  }
  return std::wstring();
}

double platformFreeMB(const std::wstring& root) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return 0;
  return static_cast<double>(available.QuadPart) / 1048576.0;
}

hd::DriveSpace space(double freeMB, const wchar_t* fileSystem = L"NTFS") {
  hd::DriveSpace s;
  s.freeSpaceKnown = true;
  s.freeMB = freeMB;
  s.fileSystemKnown = fileSystem != nullptr;
  if (fileSystem) s.fileSystem = fileSystem;
  return s;
}

// What a saved link holds, read back through the shell.
struct LinkFields {
  std::wstring target, workingDir, arguments, icon;
  int iconIndex = -1;
  DWORD headerFlags = 0;  // LinkFlags of the file header; 0x20 = HasArguments
};

bool readLink(const std::wstring& path, LinkFields& out) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return false;
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(path.c_str(), STGM_READ));
  if (ok) {
    wchar_t text[MAX_PATH] = {};
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    out.target = text;
    link->GetWorkingDirectory(text, MAX_PATH);
    out.workingDir = text;
    link->GetArguments(text, MAX_PATH);
    out.arguments = text;
    link->GetIconLocation(text, MAX_PATH, &out.iconIndex);
    out.icon = text;
  }
  if (file) file->Release();
  link->Release();
  std::string bytes;
  if (ok && ts::readFile(path, bytes) && bytes.size() >= 0x18) {
    out.headerFlags = static_cast<unsigned char>(bytes[0x14]) | static_cast<unsigned char>(bytes[0x15]) << 8 |
                      static_cast<unsigned char>(bytes[0x16]) << 16 | static_cast<unsigned char>(bytes[0x17]) << 24;
  }
  return ok;
}

}  // namespace

// Lower case for ASCII letters only, slashes turned into backslashes, runs collapsed, and
// backslashes at both ends removed.
TEST(DiskRules, NormalizePath) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"D:/Games/Emu", L"d:\\games\\emu"},
      {L"d:\\games\\\\\\emu\\\\", L"d:\\games\\emu"},
      {L"\\\\Server\\Share\\Emu", L"server\\share\\emu"},
      {L"C:\\", L"c:"},
      {L"//\\\\", L""},
      {L"D:\\游戏\\ÄB", L"d:\\游戏\\Äb"},
      {L" d:\\a\\ ", L" d:\\a\\ "},
  };
  for (const Case& c : cases) EXPECT_EQ(hd::normalizePath(c.in), c.out) << c.in;
}

// The characters a folder name may not hold.
TEST(DiskRules, InvalidPathChars) {
  for (const wchar_t* bad : {L"a/b", L"a:b", L"a*", L"?", L"\"x\"", L"<", L">", L"a|b"}) {
    EXPECT_TRUE(hd::hasInvalidPathChar(bad)) << bad;
  }
  for (const wchar_t* good : {L"", L"games\\emu", L"游戏 (x86) & [1]", L"a.b-c_d"}) {
    EXPECT_FALSE(hd::hasInvalidPathChar(good)) << good;
  }
}

// Install paths on a machine with drives C and D (both with free space): slashes and case are
// normalised, a root without space, invalid characters after the root and blank-only folder
// names make a path invalid. A drive root alone normalises to two characters and is refused.
TEST(DiskRules, InstallPathRules) {
  std::vector<std::wstring> asked;
  auto rootHasSpace = [&](const std::wstring& root) {
    asked.push_back(root);
    return root == L"c:\\" || root == L"d:\\";
  };
  struct Case {
    const wchar_t* path;
    bool valid;
  } cases[] = {
      {L"D:/Games/Emu", true},
      {L"d:\\games\\\\emu", true},
      {L"  d:\\games\\emu  ", true},
      {L"d:\\ games \\ emu\\x", true},
      {L"d:\\ga:mes", false},
      {L"d:\\a*b\\c", false},
      {L"d:\\  \\emu", false},
      {L"d:\\games\\  \\emu", false},
      {L"q:\\emu", false},
      {L"\\\\server\\share\\emu", false},
      {L"D:\\", false},
      {L"d:", false},
      {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(hd::isValidInstallPathWith(c.path, rootHasSpace), c.valid) << c.path;

  asked.clear();
  hd::isValidInstallPathWith(L"\\\\server\\share\\emu", rootHasSpace);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], L"ser");
}

// The same rules against the real drives: C exists with free space, a missing letter does not.
TEST(DiskPlatform, InstallPathOnThisMachine) {
  EXPECT_TRUE(hd::isValidInstallPath(L"C:/Users/Emu"));
  EXPECT_FALSE(hd::isValidInstallPath(L"C:\\a|b\\c"));
  std::wstring missing = missingDrive();
  ASSERT_FALSE(missing.empty());
  EXPECT_FALSE(hd::isValidInstallPath(missing + L"\\emu"));
}

// The ranking: free megabytes on NTFS or FAT32; an SSD with more than 17408 whole megabytes free
// scores 1000 times as much. A drive that does not qualify scores 0, is not asked about TRIM and
// leaves the SSD answer alone.
TEST(DiskRules, DriveScore) {
  struct Case {
    hd::DriveSpace space;
    bool ssd;
    double score;
    bool asked;
  } cases[] = {
      {space(20000), true, 20000000, true},
      {space(900000), false, 900000, true},
      {space(17408.9), true, 17408.9, true},
      {space(17409), true, 17409000, true},
      {space(50000, L"FAT32"), false, 50000, true},
      {space(50000, nullptr), false, 50000, true},  // file system not known: supported
      {space(50000, L"exFAT"), true, 0, false},
      {space(50000, L"ntfs"), true, 0, false},
      {hd::DriveSpace{}, true, 0, false},  // free space not known
  };
  for (const Case& c : cases) {
    bool asked = false;
    bool isSsd = true;  // preset: must change only when the drive was asked
    double score = hd::scoreDrive(c.space, [&] { asked = true; return c.ssd; }, isSsd);
    EXPECT_DOUBLE_EQ(score, c.score) << c.space.freeMB << " " << c.space.fileSystem;
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(isSsd, c.asked ? c.ssd : true);
  }
}

// The best drive: an SSD with 20000 MB beats a hard disk with 900000 MB; equal scores keep the
// earlier drive; when all score 0 the first wins with the answer false; no drive gives an empty
// result and leaves the answer alone.
TEST(DiskRules, BestDrive) {
  struct Drive {
    hd::DriveSpace space;
    bool ssd;
  };
  auto pick = [](std::vector<std::pair<std::wstring, Drive>> drives, bool& isSsd) {
    std::vector<std::wstring> roots;
    for (auto& d : drives) roots.push_back(d.first);
    return hd::pickBestDrive(
        roots,
        [&](const std::wstring& root, bool& ssd) {
          for (auto& d : drives) {
            if (d.first == root) return hd::scoreDrive(d.second.space, [&] { return d.second.ssd; }, ssd);
          }
          return 0.0;
        },
        isSsd);
  };
  bool isSsd = false;
  EXPECT_EQ(pick({{L"C:\\", {space(900000), false}}, {L"D:\\", {space(20000), true}}}, isSsd), L"D:\\");
  EXPECT_TRUE(isSsd);
  EXPECT_EQ(pick({{L"C:\\", {space(17408.9), true}}, {L"D:\\", {space(17409), false}}}, isSsd), L"D:\\");
  EXPECT_FALSE(isSsd);
  EXPECT_EQ(pick({{L"E:\\", {space(5000), true}}, {L"F:\\", {space(5000), false}}}, isSsd), L"E:\\");
  EXPECT_TRUE(isSsd);
  EXPECT_EQ(pick({{L"E:\\", {space(5000, L"exFAT"), true}}, {L"F:\\", {hd::DriveSpace{}, true}}}, isSsd), L"E:\\");
  EXPECT_FALSE(isSsd);
  isSsd = true;
  EXPECT_EQ(pick({}, isSsd), L"");
  EXPECT_TRUE(isSsd);
}

// Which drives are listed: the split of the platform's drive strings, the kept drive types, and
// the hotplug verdict (a volume that cannot be opened is kept, a failed query is treated as
// hotplug).
TEST(DiskRules, DriveListing) {
  const wchar_t strings[] = L"C:\\\0D:\\\0Z:\\\0";
  EXPECT_EQ(hd::splitDriveStrings(strings, sizeof strings / sizeof strings[0] - 1),
            (std::vector<std::wstring>{L"C:\\", L"D:\\", L"Z:\\"}));
  EXPECT_TRUE(hd::splitDriveStrings(L"", 0).empty());

  struct TypeCase {
    UINT type;
    bool kept;
  } types[] = {{DRIVE_UNKNOWN, false}, {DRIVE_NO_ROOT_DIR, false}, {DRIVE_REMOVABLE, false},
               {DRIVE_FIXED, true},    {DRIVE_REMOTE, false},      {DRIVE_CDROM, false},
               {DRIVE_RAMDISK, false}, {7, true}};
  for (const TypeCase& c : types) EXPECT_EQ(hd::isKeptDriveType(c.type), c.kept) << c.type;

  EXPECT_FALSE(hd::hotplugVerdict(false, false, true, true));
  EXPECT_TRUE(hd::hotplugVerdict(true, false, false, false));
  EXPECT_FALSE(hd::hotplugVerdict(true, true, false, false));
  EXPECT_TRUE(hd::hotplugVerdict(true, true, true, false));
  EXPECT_TRUE(hd::hotplugVerdict(true, true, false, true));
}

// The drive operations on this machine agree with the platform: fixed drives are those of fixed
// type whose hotplug query says no, the best drive is the top scorer among them, free space is
// the caller's available bytes in MB, and the SSD answer matches its log line.
// (Under Wine the hotplug and TRIM queries on C: fail with error 50, so C: counts as hotplug and
// no drive as an SSD, while Z: cannot be opened as a volume and is kept: the list is just Z:. The
// rules themselves are proven on data above.)
TEST(DiskPlatform, DrivesOfThisMachine) {
  wchar_t buffer[512] = {};
  DWORD length = GetLogicalDriveStringsW(511, buffer);
  std::vector<std::wstring> expected;
  for (const std::wstring& root : hd::splitDriveStrings(buffer, length)) {
    if (GetDriveTypeW(root.c_str()) == DRIVE_FIXED && !hd::isHotplugDrive(root)) expected.push_back(root);
  }
  std::vector<std::wstring> fixed{L"keep"};
  EXPECT_TRUE(hd::getFixedDrives(fixed));
  expected.insert(expected.begin(), L"keep");
  EXPECT_EQ(fixed, expected);

  bool isSsd = true;
  std::wstring best = hd::getBestDrive(isSsd);
  if (expected.size() == 1) {
    EXPECT_EQ(best, L"");
    EXPECT_TRUE(isSsd);
  } else {
    bool unused = false;
    double bestScore = hd::getDriveScore(best, unused);
    // Free space moves while other tests write (drives here share one host file system): 64 MB
    // of margin, as below, in the score's own unit.
    bool bestSsd = false;
    hd::getDriveScore(best, bestSsd);
    for (size_t i = 1; i < expected.size(); ++i)
      EXPECT_LE(hd::getDriveScore(expected[i], unused), bestScore + (bestSsd ? 64000 : 64));
  }

  // C: is NTFS here, so the supported free space equals the free space.
  double free = hd::getFreeSpaceMB(L"C:\\some\\folder");
  EXPECT_GT(free, 0);
  EXPECT_NEAR(free, platformFreeMB(L"C:\\"), 64);
  EXPECT_NEAR(hd::getSupportedFreeSpaceMB(L"c:\\x"), free, 64);
  bool ssdC = false;
  EXPECT_NEAR(hd::getDriveScore(L"C:\\", ssdC), ssdC && free > 17408 ? free * 1000 : free, 64000);

  std::wstring missing = missingDrive();
  EXPECT_EQ(hd::getFreeSpaceMB(missing + L"\\"), 0);
  EXPECT_EQ(hd::getSupportedFreeSpaceMB(missing + L"\\"), 0);
}

// isSSD logs which answer it gave; a volume that cannot be opened is not an SSD and logs nothing.
TEST(DiskPlatform, SsdQuery) {
  LogTail log;
  bool ssd = hd::isSSD(L"C:");
  EXPECT_TRUE(log.waitFor("helper::disk::isSSD", ssd ? L"It is suport trim" : L"It is not suport trim"));
  LogTail missingLog;
  EXPECT_FALSE(hd::isSSD(missingDrive()));
  missingLog.sync();
  EXPECT_EQ(missingLog.count("helper::disk::isSSD", L"suport trim"), 0u);
}

// A shortcut on the desktop holds target, working folder, icon (index 0) and the arguments; with
// empty arguments the link has no argument field at all.
TEST(DiskPlatform, CreateShortcut) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  std::wstring folder = ts::makeTempDir(L"shortcut");
  std::wstring target = folder + L"gormandel.exe", icon = folder + L"game.ico";
  ASSERT_TRUE(ts::writeFile(target, "MZ"));
  ASSERT_TRUE(ts::writeFile(icon, "icon"));
  for (const wchar_t* arguments : {L"", L"from=desktop \"a b\""}) {
    std::wstring name = ts::uniqueName(L"游戏 shortcut");
    hd::createShortcut(name, icon, folder, target, arguments);
    std::wstring linkPath = ts::desktopDir() + L"\\" + name + L".lnk";
    LinkFields fields;
    ASSERT_TRUE(readLink(linkPath, fields)) << linkPath;
    EXPECT_EQ(fields.target, target);
    EXPECT_EQ(fields.workingDir, folder);
    EXPECT_EQ(fields.arguments, arguments);
    EXPECT_EQ(fields.icon, icon);
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_EQ((fields.headerFlags & 0x20) != 0, *arguments != L'\0') << std::hex << fields.headerFlags;
    DeleteFileW(linkPath.c_str());
  }
  CoUninitialize();
}

// On a thread without COM the link object cannot be made: failure 3 is logged and no file appears.
TEST(DiskPlatform, CreateShortcutWithoutCom) {
  LogTail log;
  std::wstring name = ts::uniqueName(L"nocom");
  std::thread worker([&] { hd::createShortcut(name, L"C:\\x.ico", L"C:\\", L"C:\\x.exe", L""); });
  worker.join();
  EXPECT_TRUE(log.waitFor("helper::disk::createShortcut", L"install 3 of create shortcut failed!"));
  EXPECT_EQ(GetFileAttributesW((ts::desktopDir() + L"\\" + name + L".lnk").c_str()), INVALID_FILE_ATTRIBUTES);
}
