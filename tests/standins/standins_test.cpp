#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_journal.h"
#include "test_support.h"

using namespace testing_support;
using standin::InstallDirGuard;
using standin::readInstallDir;

namespace {

struct Finished {
  int exitCode = -1;
  DWORD pid = 0;
};

Finished runToEnd(const std::wstring& exe, const std::wstring& args) {
  Finished result;
  PROCESS_INFORMATION pi{};
  if (!startProcess(exe, args, pi)) return result;
  result.pid = pi.dwProcessId;
  result.exitCode = waitForExit(pi);
  return result;
}

bool isDir(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring downloaderArgs(const std::wstring& folder) {
  return L"-silence -downloader -openid=402038 -path=\"" + folder + L"\"";
}

const wchar_t kOrvanta9Key[] = L"Software\\tessaro\\Orvanta9";

}  // namespace

// The downloader's argument forms, read from the raw text: the backslash before the closing quote
// stays part of the folder, as do blanks and CJK inside the quotes; a "-path=" inside the
// program's own quoted path is not the option; no -path means no folder.
TEST(StandinInstaller, ParsesTheDownloaderCommandLine) {
  struct Case {
    const wchar_t* raw;
    bool ok;
    const wchar_t* openId;
    const wchar_t* language;
    const wchar_t* path;
  };
  const Case cases[] = {
      {LR"x("C:\dl\qxinst_9.0.exe" -silence -downloader -openid=402038 -path="D:\tessaro\Orvanta9\")x", true,
       L"402038", L"", LR"x(D:\tessaro\Orvanta9\)x"},
      {LR"x("C:\Program Files\dl\qx.exe" -silence -downloader -openid=777 -language=zh -path="E:\My Games\模拟器 九\")x",
       true, L"777", L"zh", LR"x(E:\My Games\模拟器 九\)x"},
      {LR"x(qx.exe -silence -downloader -openid= -path="D:\no slash")x", true, L"", L"", LR"x(D:\no slash)x"},
      {LR"x("C:\a -path=x\qx.exe" -silence -downloader -openid=5 -path="D:\z\")x", true, L"5", L"", LR"x(D:\z\)x"},
      {LR"x(qx.exe -silence -downloader -openid=1)x", false, L"1", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.raw));
    standin::InstallerArgs args;
    EXPECT_EQ(c.ok, standin::parseInstallerArgs(c.raw, args));
    EXPECT_TRUE(args.silence);
    EXPECT_TRUE(args.downloader);
    EXPECT_EQ(c.openId, args.openId);
    EXPECT_EQ(c.language, args.language);
    EXPECT_EQ(c.path, args.path);
  }
}

// The installer run with the downloader's exact arguments (blanks, CJK and the trailing
// backslash in the folder), for the default edition and two chosen through the control file: the
// folder holds the three programs, a loadable game.ico and "vms"; InstallDir under the edition's
// key is the folder exactly as passed; the journal has the raw command line and the pid. An
// installed program started without the environment still journals into the same file.
TEST(StandinInstaller, InstallsIntoTheExactFolderUnderTheEditionsKey) {
  struct Case {
    const wchar_t* control;
    const wchar_t* key;
  };
  const Case cases[] = {
      {L"", kOrvanta9Key},
      {L"edition=2\n", L"Software\\tessaro\\Orvanta64"},
      {L"installer.edition=0\n", L"Software\\Corvane2\\hivora"},
  };
  const std::wstring installer = testProgram(L"standin_installer.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.key));
    std::wstring dir = makeTempDir(L"standin_install");
    std::wstring folder = dir + L"安装 目录\\Orvanta9\\";
    standin::StandinEnvironment env(dir);
    if (*c.control) {
      ASSERT_TRUE(env.setControl(c.control));
    }
    InstallDirGuard guard(c.key);

    Finished result = runToEnd(installer, downloaderArgs(folder));
    ASSERT_EQ(0, result.exitCode);

    for (const wchar_t* name : {L"hivora.exe", L"gormandel.exe", L"hvconsole.exe"})
      EXPECT_TRUE(isFile(folder + name)) << wideToUtf8(name);
    EXPECT_TRUE(isDir(folder + L"vms"));
    HANDLE icon = LoadImageW(nullptr, (folder + L"game.ico").c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
    EXPECT_NE(nullptr, icon);
    if (icon) DestroyIcon(static_cast<HICON>(icon));
    std::wstring installDir;
    ASSERT_TRUE(readInstallDir(c.key, installDir));
    EXPECT_EQ(folder, installDir);

    std::vector<standin::JournalEntry> entries = env.entries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(L"installer", entries[0].program);
    EXPECT_EQ(L"\"" + installer + L"\" " + downloaderArgs(folder), entries[0].commandLine);
    EXPECT_EQ(result.pid, entries[0].pid);

    SetEnvironmentVariableW(L"ORV_STANDIN_JOURNAL", nullptr);
    SetEnvironmentVariableW(L"ORV_STANDIN_CONTROL", nullptr);
    EXPECT_EQ(0, runToEnd(folder + L"hivora.exe", L"package=com.example.game").exitCode);
    entries = env.entries(L"hivora");
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(L"package=com.example.game", entries[0].arguments);
  }
}

// Control keys: fail stops before anything is installed and exits with exit_code (default 1);
// exit_code alone sets the code after a full install; a key prefixed for another program does not
// apply; a command line without -path installs nothing and exits 2.
TEST(StandinInstaller, ObeysFailAndExitCodeControls) {
  struct Case {
    const wchar_t* control;
    bool withPath;
    int exitCode;
    bool installed;
  };
  const Case cases[] = {
      {L"fail=1\n", true, 1, false},
      {L"installer.fail=1\nexit_code=7\n", true, 7, false},
      {L"exit_code=5\n", true, 5, true},
      {L"hivora.fail=1\nhivora.exit_code=9\n", true, 0, true},
      {L"", false, 2, false},
  };
  const std::wstring installer = testProgram(L"standin_installer.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.control));
    std::wstring dir = makeTempDir(L"standin_control");
    std::wstring folder = dir + L"Orvanta9\\";
    standin::StandinEnvironment env(dir);
    if (*c.control) {
      ASSERT_TRUE(env.setControl(c.control));
    }
    InstallDirGuard guard(kOrvanta9Key);

    std::wstring args = c.withPath ? downloaderArgs(folder) : L"-silence -downloader -openid=402038";
    EXPECT_EQ(c.exitCode, runToEnd(installer, args).exitCode);
    EXPECT_EQ(c.installed, isFile(folder + L"hivora.exe"));
    std::wstring installDir;
    EXPECT_EQ(c.installed, readInstallDir(kOrvanta9Key, installDir));
    EXPECT_EQ(1u, env.entries(L"installer").size());
  }
}

// sleep_ms keeps a stand-in running after its journal line (the installer before it installs
// anything); a prefixed sleep holds only that program, so the launcher started alongside exits.
TEST(StandinControl, SleepKeepsOnlyTheNamedProgramRunning) {
  std::wstring dir = makeTempDir(L"standin_sleep");
  std::wstring folder = dir + L"Orvanta9\\";
  standin::StandinEnvironment env(dir);
  ASSERT_TRUE(env.setControl(L"installer.sleep_ms=600000\nhivora.sleep_ms=600000\n"));
  InstallDirGuard guard(kOrvanta9Key);

  PROCESS_INFORMATION installer{}, hivora{}, gormandel{};
  ASSERT_TRUE(startProcess(testProgram(L"standin_installer.exe"), downloaderArgs(folder), installer));
  ASSERT_TRUE(startProcess(testProgram(L"standin_hivora.exe"), L"", hivora));
  ASSERT_TRUE(startProcess(testProgram(L"standin_gormandel.exe"), L"from=qxinstall", gormandel));

  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gormandel.hProcess, 60000));
  EXPECT_TRUE(pollUntil([&] { return env.entries().size() == 3; }, 60000));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(installer.hProcess, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hivora.hProcess, 0));
  EXPECT_FALSE(isDir(folder));

  for (PROCESS_INFORMATION* pi : {&installer, &hivora, &gormandel}) {
    TerminateProcess(pi->hProcess, 1);
    WaitForSingleObject(pi->hProcess, 10000);
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
  }
}

// The console tool's two commands: installapk succeeds only when the quoted package file exists
// (blanks and CJK in its path; a folder does not count), modify needs a resolution, anything else
// fails. Every start is journalled with its raw arguments, in order.
TEST(StandinConsole, ChecksThePackageFileAndJournalsEachCommand) {
  std::wstring dir = makeTempDir(L"standin_console");
  standin::StandinEnvironment env(dir);
  std::wstring package = dir + L"游戏 包.apk";
  ASSERT_TRUE(writeFile(package, "apk"));
  struct Case {
    std::wstring args;
    int exitCode;
  };
  const Case cases[] = {
      {L"installapk --index 0 --filename \"" + package + L"\" --wait --hide", 0},
      {L"installapk --index 0 --filename \"" + dir + L"missing.apk\" --wait --hide", 2},
      {L"installapk --index 0 --filename \"" + dir + L"\" --wait --hide", 2},
      {L"installapk --index 0 --wait --hide", 1},
      {L"modify --index 0 --resolution 1280x720", 0},
      {L"modify --index 0 --resolution", 1},
      {L"uninstallapk --index 0", 1},
  };
  const std::wstring console = testProgram(L"standin_hvconsole.exe");
  for (const Case& c : cases)
    EXPECT_EQ(c.exitCode, runToEnd(console, c.args).exitCode) << wideToUtf8(c.args);

  std::vector<standin::JournalEntry> entries = env.entries(L"hvconsole");
  ASSERT_EQ(sizeof cases / sizeof cases[0], entries.size());
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(cases[i].args, entries[i].arguments);
}

// Eight stand-ins started together (long command lines) each append exactly one whole line with
// their own raw command line and pid: nothing torn or interleaved.
TEST(StandinJournal, ConcurrentStartsEachWriteOneWholeLine) {
  std::wstring dir = makeTempDir(L"standin_journal");
  standin::StandinEnvironment env(dir);
  const std::wstring launcher = testProgram(L"standin_gormandel.exe");
  const int count = 8;
  std::vector<PROCESS_INFORMATION> processes(count);
  std::vector<std::wstring> args(count);
  for (int i = 0; i < count; ++i) {
    args[i] = L"from=qxinstall n=" + std::to_wstring(i) + L" " + std::wstring(2000, static_cast<wchar_t>(L'a' + i));
    std::wstring commandLine = L"\"" + launcher + L"\" " + args[i];
    STARTUPINFOW si{};
    si.cb = sizeof si;
    // Suspended, then let go together, so the writes really race.
    ASSERT_TRUE(CreateProcessW(launcher.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &si, &processes[i]));
  }
  for (PROCESS_INFORMATION& pi : processes) ResumeThread(pi.hThread);
  for (PROCESS_INFORMATION& pi : processes) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }

  std::string bytes;
  ASSERT_TRUE(readFile(env.journalPath(), bytes));
  EXPECT_EQ('\n', bytes.back());
  std::vector<standin::JournalEntry> entries = env.entries();
  ASSERT_EQ(static_cast<size_t>(count), entries.size());
  for (int i = 0; i < count; ++i) {
    bool found = false;
    for (const standin::JournalEntry& entry : entries)
      if (entry.pid == processes[i].dwProcessId) {
        found = true;
        EXPECT_EQ(L"gormandel", entry.program);
        EXPECT_EQ(args[i], entry.arguments);
      }
    EXPECT_TRUE(found) << i;
  }
}

// The reader cuts the fields at the first and the last tab (a command line may hold tabs) and
// leaves an unfinished last line for a later read.
TEST(StandinJournal, ReaderSplitsFieldsAndSkipsAnUnfinishedLine) {
  std::vector<standin::JournalEntry> entries = standin::parseJournal(
      "hivora\t\"C:\\x y\\hivora.exe\" a\tb\t12\n"
      "gormandel\tgormandel.exe from=qxinstall\t34\n"
      "installer\t\"C:\\qx.exe\" -silence");
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(L"hivora", entries[0].program);
  EXPECT_EQ(L"\"C:\\x y\\hivora.exe\" a\tb", entries[0].commandLine);
  EXPECT_EQ(L"a\tb", entries[0].arguments);
  EXPECT_EQ(12u, entries[0].pid);
  EXPECT_EQ(L"from=qxinstall", entries[1].arguments);
  EXPECT_EQ(34u, entries[1].pid);
}
