#include <gtest/gtest.h>

#include <memory>

#include "build_config.h"
#include "model/edition_catalog.h"
#include "model_fixture.h"
#include "standin_journal.h"
#include "test_config.h"
#include "utility/file_handle.h"
#include "utility/ufile.h"
#include "utility/disk.h"

namespace ts = testing_support;
using namespace model_test;

namespace {

const char kInstallTag[] = "install_player";
const wchar_t kOrvanta9Key[] = L"Software\\tessaro\\Orvanta9";

std::wstring setting(const std::wstring& ini, const wchar_t* key) {
  wchar_t value[256] = {};
  GetPrivateProfileStringW(L"setting", key, L"", value, 256, ini.c_str());
  return value;
}

// The stand-ins journal every start into the test's folder and obey its control file; the
// installer's InstallDir under the edition's key is put back afterwards.
class InstallTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    standins.reset();  // puts the variables back before the next one saves them
    standins.reset(new standin::StandinEnvironment(ts::makeTempDir(L"standin")));
    version = ts::uniqueName(L"v");
    model->setUrlsForTesting(L"http://unused", L"http://unused", version);
    installer = EditionCatalog::instance().installerFileName(installDir, version);
    CreateDirectoryW((ts::appDataDir() + L"\\qxdownloader").c_str(), nullptr);
  }

  // Runs the installer step and the post-install work; the success flag it reports.
  bool runInstall() {
    model->startInstall();
    EXPECT_EQ(model->phase(), 2);
    EXPECT_TRUE(ts::pumpUntil([&] { return !finished.empty(); }, 60000)) << log.text();
    EXPECT_EQ(model->phase(), 3);
    return !finished.empty() && finished[0];
  }

  // The "failure_reason" of this test's "complete_install" event; "-" when it has none.
  std::string failureReason() {
    for (const Event& event : collectedEvents("complete_install"))
      if (event.key == "complete_install") {
        auto it = event.properties.find("failure_reason");
        return it == event.properties.end() ? "-" : it->second;
      }
    return "no event";
  }

  standin::InstallDirGuard registry{kOrvanta9Key};
  std::unique_ptr<standin::StandinEnvironment> standins;
  std::wstring version, installer;
};

}  // namespace

// The proposed folder: an installed emulator's folder from the registry (with its "vms" data),
// else the best drive with the edition's sub-folder.
TEST_F(InstallTest, ProposesTheInstallFolder) {
  bool ssd = false;
  std::wstring best = helper::disk::getBestDrive(ssd);
  std::wstring installed = ts::makeTempDir(L"installed") + L"Orvanta9";
  ASSERT_TRUE(CreateDirectoryW(installed.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((installed + L"\\vms").c_str(), nullptr));
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kOrvanta9Key, L"InstallDir", REG_SZ, installed.c_str(),
                            static_cast<DWORD>((installed.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  HVDownloaderModel::abandonInstanceForTesting();
  model = HVDownloaderModel::instance();
  model->_calcInstallPath();
  EXPECT_EQ(model->installPath(), installed);
  EXPECT_EQ(model->registryInstallDir(), installed);
  EXPECT_TRUE(model->hasEmulatorData());
  EXPECT_EQ(model->bestPath(), best);
  EXPECT_EQ(model->bestDriveIsSsd(), ssd);

  RegDeleteKeyValueW(HKEY_CURRENT_USER, kOrvanta9Key, L"InstallDir");
  HVDownloaderModel::abandonInstanceForTesting();
  model = HVDownloaderModel::instance();
  model->_calcInstallPath();
  EXPECT_EQ(model->installPath(), best + L"tessaro\\Orvanta9\\");
  EXPECT_EQ(model->bestPath(), model->installPath());
  EXPECT_EQ(model->registryInstallDir(), L"");
  EXPECT_FALSE(model->hasEmulatorData());
  EXPECT_TRUE(log.waitFor("HVDownloaderModel::_calcInstallPath", L"get install path from MaxFreeSpace: " + best));
  model->setInstallPath(installed);
  EXPECT_TRUE(model->hasEmulatorData());
}

// The installer gets exactly the downloader's arguments (the folder's closing quote right after
// it), the remembered-installer file names it before the run, and telemetry tells the start and
// the end of the run.
TEST_F(InstallTest, RunsTheInstallerWithItsArguments) {
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
  EXPECT_TRUE(runInstall());
  std::vector<standin::JournalEntry> runs = standins->entries(L"installer");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine,
            L"\"" + installer + L"\" -silence -downloader -openid=402038 -path=\"" + installDir + L"\"");
  std::string remembered;
  ts::readFile(ts::appDataDir() + L"\\qxdownloader\\cachepath.data", remembered);
  EXPECT_EQ(remembered, ts::wideToUtf8(installer));  // ASCII path: the ANSI bytes are the same
  std::vector<Event> events = collectedEvents("complete_install");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].key, "start_install");
  EXPECT_EQ(events[1].properties.count("failure_reason"), 0u);
  EXPECT_TRUE(log.waitFor(kInstallTag, L"install player complete"));
}

// How the end of a run is classified: the exit code is not read, a run past the wait counts as
// done (the wait is shortened through a seam), a missing installer fails its process creation,
// and an installer that no verification holds is checked again and, failing, never run.
TEST_F(InstallTest, ClassifiesTheRun) {
  struct Case {
    const char* name;
    const char* variant;  // of the installer on disk; none when null
    const wchar_t* control;
    DWORD waitMs;
    bool result;
    std::string reason;
  } cases[] = {
      {"non-zero exit", "signed", L"installer.exit_code=3\n", 60000, true, "-"},
      {"missing installer", nullptr, L"", 60000, false, "errCreateProcess_2"},
      {"past the wait", "signed", L"installer.sleep_ms=5000\n", 500, true, "timeout"},
      {"unverified installer", "tampered", L"", 60000, false, "errSignature"},
  };
  for (const Case& c : cases) {
    deviceId = ts::uniqueName(L"device");  // the reporter takes it in SetUp
    renewModel();
    if (c.variant) {
      ASSERT_TRUE(CopyFileW(installerVariant(c.variant).c_str(), installer.c_str(), FALSE));
    }
    standins->setControl(c.control);
    model->setInstallWaitForTesting(c.waitMs);
    EXPECT_EQ(runInstall(), c.result) << c.name;
    EXPECT_EQ(failureReason(), c.reason) << c.name;
    EXPECT_EQ(standins->entries(L"installer").size(), c.result ? 1u : 0u) << c.name;
    EXPECT_TRUE(utility::ufile::fileExists(installDir + L"\\data\\")) << c.name;  // post-install ran
  }
}

// Running emulator processes are ended by their exact name before the installer starts; a name
// in other letters is not matched; with none running no task killer starts.
TEST_F(InstallTest, EndsRunningEmulatorsFirst) {
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
  struct Case {
    const wchar_t* exeName;
    bool ended;
  } cases[] = {{L"hivora.exe", true}, {L"HIVORA.EXE", false}, {nullptr, false}};
  for (const Case& c : cases) {
    renewModel();
    ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
    PROCESS_INFORMATION emulator{};
    if (c.exeName) {
      std::wstring copy = ts::makeTempDir(L"emu") + c.exeName;
      ASSERT_TRUE(CopyFileW(ts::testProgram(L"standin_hivora.exe").c_str(), copy.c_str(), FALSE));
      standins->setControl(L"hivora.sleep_ms=60000\n");
      ASSERT_TRUE(ts::startProcess(copy, L"", emulator));
      ASSERT_TRUE(ts::pollUntil([&] { return !standins->entries(L"hivora").empty(); }));
      standins->setControl(L"");
    }
    testing_support::LogTail runLog;
    EXPECT_TRUE(runInstall());
    runLog.sync();
    std::wstring kill = L"createProcess filename = [taskkill], param = [/F /IM hivora.exe /T]";
    EXPECT_EQ(runLog.count("utility::process::create", kill), c.ended ? 1u : 0u) << c.exeName;
    EXPECT_EQ(runLog.count("utility::process::create", L"filename = [taskkill]"), c.ended ? 1u : 0u);
    if (c.ended) {  // before the installer's start
      std::string text = runLog.text();
      EXPECT_LT(text.find("[taskkill]"), text.find("install player wait"));
    }
    if (emulator.hProcess) {
      TerminateProcess(emulator.hProcess, 0);
      CloseHandle(emulator.hProcess);
      CloseHandle(emulator.hThread);
    }
  }
}

// The verified installer stays held from its verification until its process exists: it can be
// read, but not rewritten, replaced or deleted in between; afterwards it is let go.
TEST_F(InstallTest, VerifiedInstallerIsHeldUntilItRuns) {
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
  model->realDownloadPlayer();
  ASSERT_EQ(ready, 1);
  utility::FileHandle reader;
  EXPECT_TRUE(reader.openRead(installer));
  reader.close();
  HANDLE writer = CreateFileW(installer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  std::wstring other = ts::makeTempDir(L"swap") + L"evil.exe";
  ASSERT_TRUE(CopyFileW(installerVariant("unsigned").c_str(), other.c_str(), FALSE));
  EXPECT_FALSE(MoveFileExW(other.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileW(installer.c_str()));

  EXPECT_TRUE(runInstall());
  EXPECT_EQ(standins->entries(L"installer").size(), 1u);
  EXPECT_TRUE(DeleteFileW(installer.c_str()));
}

// With the build's option values the install leaves the data folder and the launcher shortcut and
// does not touch "data.ini"; changed options are written under "setting", the title in UTF-8.
TEST_F(InstallTest, PostInstallWorkFollowsTheOptions) {
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
  std::wstring shortcut = ts::desktopDir() + L"\\Orvanta游戏中心启动器.lnk";
  DeleteFileW(shortcut.c_str());
  EXPECT_TRUE(runInstall());
  EXPECT_TRUE(utility::ufile::fileExists(shortcut)) << log.text();
  EXPECT_TRUE(utility::ufile::fileExists(installDir + L"\\data\\"));
  EXPECT_FALSE(utility::ufile::fileExists(installDir + L"\\data\\data.ini"));

  PostInstallOptions& options = model->postInstallOptionsForTesting();
  options.adShow = false;
  options.useRoot = 1;  // only exactly 0 is written
  options.runAppStore = false;
  options.gameTitle = L"游戏";
  options.heapSize = L"512";
  options.runApp = L"com.example.game";
  model->postInstallWork();
  std::wstring ini = installDir + L"\\data\\data.ini";
  EXPECT_EQ(setting(ini, L"adshow"), L"0");
  EXPECT_EQ(setting(ini, L"useroot"), L"");
  EXPECT_EQ(setting(ini, L"runappstore"), L"0");
  EXPECT_EQ(setting(ini, L"heapsize"), L"512");
  EXPECT_EQ(setting(ini, L"runapp"), L"com.example.game");
  EXPECT_EQ(setting(ini, L"cleanmodel"), L"");
  std::string raw;
  ts::readFile(ini, raw);
  EXPECT_NE(raw.find("title=\xE6\xB8\xB8\xE6\x88\x8F"), std::string::npos) << raw;
  options.useRoot = 0;
  model->postInstallWork();
  EXPECT_EQ(setting(ini, L"useroot"), L"0");
}

// The launch operations pass the emulator's and the launcher's arguments; "call_rez" leaves at
// once. (Wine reports 6.1: the elevated shell start.)
TEST_F(InstallTest, LaunchesTheEmulatorAndTheLauncher) {
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
  EXPECT_TRUE(runInstall());
  model->setCampaignForTesting(L"com.example.game", L"");
  model->runPlayerWithPackage();
  model->launchGame();
  EXPECT_TRUE(ts::pollUntil([&] { return standins->entries(L"gormandel").size() == 1; }));
  ASSERT_TRUE(ts::pollUntil([&] { return standins->entries(L"hivora").size() == 1; }));
  EXPECT_EQ(standins->entries(L"hivora")[0].arguments, L"downloadpackage=com.example.game|package=com.example.game");
  EXPECT_EQ(standins->entries(L"gormandel")[0].arguments, L"from=qxinstall");
  std::vector<Event> events = collectedEvents("call_rez");  // flushed by runPlayer, not by the test
  EXPECT_FALSE(events.empty());
}

// The emulator started with the desktop shell's token. Wine runs its shell from the system folder,
// which the lookup (the Windows folder's explorer.exe, as on Windows) does not take, so there the
// call fails until a shell runs from the Windows folder.
TEST_F(InstallTest, StartsAProgramWithTheShellsToken) {
  std::wstring emulator = installDir + L"\\hivora.exe";
  ASSERT_TRUE(CopyFileW(ts::testProgram(L"standin_hivora.exe").c_str(), emulator.c_str(), FALSE));
  EXPECT_EQ(runAsExplorerUser(emulator, L"package=com.example.game"), -1);

  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  PROCESS_INFORMATION shell{};
  ASSERT_TRUE(ts::startProcess(std::wstring(windows) + L"\\explorer.exe", L"", shell));
  EXPECT_TRUE(ts::pollUntil([&] { return runAsExplorerUser(emulator, L"package=com.example.game") == 0; }));
  TerminateProcess(shell.hProcess, 0);
  CloseHandle(shell.hProcess);
  CloseHandle(shell.hThread);
  ASSERT_TRUE(ts::pollUntil([&] { return !standins->entries(L"hivora").empty(); }));
  EXPECT_EQ(standins->entries(L"hivora")[0].arguments, L"package=com.example.game");
}

// The emulator starts with the shell's token from 6.2 on; below that, and on a system that
// reports 10.0, through the elevated shell start.
TEST(RunPlayer, ShellTokenByReportedVersion) {
  struct Case {
    DWORD major, minor;
    bool token;
  } cases[] = {{5, 1, false}, {6, 1, false}, {6, 2, true}, {6, 3, true}, {10, 0, false}};
  for (const Case& c : cases) EXPECT_EQ(startsWithShellToken(c.major, c.minor), c.token) << c.major << "." << c.minor;
}

// A campaign build reports type 5 at a click that finds the URL known and type 4 after the
// install, each with the exact compact body; a click that has to wait for the URL sends no
// type 5; without an ad-click id nothing is sent or logged.
TEST_F(InstallTest, ConversionReports) {
  auto bodies = [] {
    std::vector<std::string> out;
    for (const std::wstring& file : test_server::recordFiles(L"ocpc"))
      out.push_back(test_server::readRecord(file).body);
    return out;
  };
  auto expected = [](int type) {
    return "[{\"logidUrl\":\"" + ts::wideToUtf8(build::kWebHost) + "/?n=6120&bd_vid=ad_7\",\"newType\":" +
           std::to_string(type) + "}]";
  };
  size_t before = bodies().size();
  model->reportBaiduActivity(4);
  EXPECT_EQ(bodies().size(), before);
  EXPECT_EQ(log.count("HVDownloaderModel::reportBaiduActivity", L"start report baidu"), 0u);

  // The URL is known at the click: "start_download", then type 5 from a worker.
  std::wstring path = serve(installerVariant("signed"), L"qxinst.exe");
  model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, version);
  model->setCampaignForTesting(L"", L"ad_7");
  model->startDownloadPlayerEx(nullptr, false);
  ASSERT_TRUE(ts::pumpUntil([&] { return ready == 1 && bodies().size() == before + 1; }, 60000));
  EXPECT_EQ(bodies().back(), expected(5));
  EXPECT_FALSE(collectedEvents("start_download").empty());
  model->startInstall();
  ASSERT_TRUE(ts::pumpUntil([&] { return !finished.empty(); }, 60000));
  ASSERT_EQ(bodies().size(), before + 2);
  EXPECT_EQ(bodies().back(), expected(4));

  // The URL arrives through the poll: no type 5.
  renewModel();
  model->setUrlsForTesting(L"", L"", version);
  model->setCampaignForTesting(L"", L"ad_7");
  model->startDownloadPlayerEx(nullptr, false);
  model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, version);
  ASSERT_TRUE(ts::pumpUntil([&] { return ready == 1; }, 60000));
  ts::pumpUntil([] { return false; }, 1000);
  EXPECT_EQ(bodies().size(), before + 2);
}
