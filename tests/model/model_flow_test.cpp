#include <gtest/gtest.h>

#include <memory>

#include "build_config.h"
#include "model/edition_catalog.h"
#include "model/installer_signature.h"
#include "model_fixture.h"
#include "net/reporter.h"
#include "test_config.h"
#include "utility/window_ipc.h"
#include "utility/ufile.h"

namespace ts = testing_support;
using namespace model_test;

namespace {

const wchar_t kPinnedPath[] = L"/dl/update/pc_tessaro_setup/qxinst_9.0.63.2.402038_0125.exe";

std::wstring configFile() { return std::wstring(testconfig::kDataDir) + L"\\www\\qx\\tessaroex"; }

void serveConfig(const std::string& json) {
  CreateDirectoryW((std::wstring(testconfig::kDataDir) + L"\\www\\qx").c_str(), nullptr);
  ASSERT_TRUE(ts::writeFile(configFile(), json));
}

}  // namespace

using UrlTest = ModelTest;

// The pinned pair needs no network: both URLs come from the build, the version is a tick count.
TEST_F(UrlTest, PinnedPairUsesNoNetwork) {
  int before = requestCount(L"/qx/tessaroex");
  model->_threadGetPlayerUrl();
  EXPECT_EQ(model->mainUrl(), std::wstring(build::kDownloadCdn1) + kPinnedPath);
  EXPECT_EQ(model->spareUrl(), std::wstring(build::kDownloadCdn2) + kPinnedPath);
  EXPECT_FALSE(model->playerVersion().empty());
  EXPECT_EQ(model->playerVersion().find_first_not_of(L"0123456789"), std::wstring::npos);
  EXPECT_EQ(requestCount(L"/qx/tessaroex"), before);
}

// The document from the release CDN: a full member, "url" without "url_spare", "ver" as a
// number, and a document that is not JSON.
TEST_F(UrlTest, DocumentFromTheReleaseCdn) {
  struct Case {
    std::string json;
    std::wstring main, spare;
    bool tickVersion;
  } cases[] = {
      {R"({"rez9":{"ver":"9.1.0","url":"http://a/i.exe","url_spare":"http://b/i.exe"}})", L"http://a/i.exe",
       L"http://b/i.exe", false},
      {R"({"rez9":{"ver":"9.1.0","url":"http://a/i.exe"}})", L"http://a/i.exe", L"http://a/i.exe", false},
      {R"({"rez9":{"ver":91,"url":"http://a/i.exe"}})", L"http://a/i.exe", L"http://a/i.exe", true},
      {R"(not json)", L"", L"", true},
  };
  for (const Case& c : cases) {
    renewModel();
    model->setPinnedUrlsForTesting(L"", L"");
    serveConfig(c.json);
    int before = requestCount(L"/qx/tessaroex");
    model->_threadGetPlayerUrl();
    EXPECT_EQ(requestCount(L"/qx/tessaroex"), before + 1);
    EXPECT_EQ(model->mainUrl(), c.main) << c.json;
    EXPECT_EQ(model->spareUrl(), c.spare) << c.json;
    if (c.tickVersion)
      EXPECT_EQ(model->playerVersion().find_first_not_of(L"0123456789"), std::wstring::npos) << c.json;
    else
      EXPECT_EQ(model->playerVersion(), L"9.1.0");
  }
}

// "C:\tessaroex" wins over the network: its values are used and the CDN is not asked.
TEST_F(UrlTest, LocalDocumentWins) {
  serveConfig(R"({"rez9":{"ver":"1","url":"http://server/i.exe"}})");
  ASSERT_TRUE(ts::writeFile(L"C:\\tessaroex", R"({"rez9":{"ver":"2","url":"http://local/i.exe"}})"));
  model->setPinnedUrlsForTesting(L"", L"");
  int before = requestCount(L"/qx/tessaroex");
  model->_threadGetPlayerUrl();
  DeleteFileW(L"C:\\tessaroex");
  EXPECT_EQ(model->mainUrl(), L"http://local/i.exe");
  EXPECT_EQ(model->playerVersion(), L"2");
  EXPECT_EQ(requestCount(L"/qx/tessaroex"), before);
}

// No URL at the click and none arriving: the fourth tick takes the edition's default URL for
// both and downloads from it.
TEST_F(UrlTest, PollFallsBackToTheDefaultUrl) {
  std::wstring dir = std::wstring(testconfig::kDataDir) + L"\\www\\download\\release\\";
  CreateDirectoryW((std::wstring(testconfig::kDataDir) + L"\\www\\download").c_str(), nullptr);
  CreateDirectoryW(dir.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), (dir + L"qxinst9.0.exe").c_str(), FALSE));
  model->setUrlsForTesting(L"", L"", ts::uniqueName(L"v"));
  model->startDownloadPlayerEx(nullptr, false);
  EXPECT_EQ(model->phase(), 1);
  ASSERT_TRUE(ts::pumpUntil([&] { return ready + failed > 0; }, 60000));
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(model->mainUrl(), EditionCatalog::instance().defaultInstallerUrl());
  EXPECT_EQ(model->spareUrl(), model->mainUrl());
}

// The URL arrives after the click but before the fourth tick: the download uses it.
TEST_F(UrlTest, PollTakesAUrlThatArrivesInTime) {
  std::wstring path = serve(installerVariant("signed"), L"qxinst.exe");
  model->setUrlsForTesting(L"", L"", ts::uniqueName(L"v"));
  model->startDownloadPlayerEx(nullptr, false);
  ts::pumpUntil([] { return false; }, 1200);
  model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, model->playerVersion());
  ASSERT_TRUE(ts::pumpUntil([&] { return ready + failed > 0; }, 60000));
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(requestCount(path), 1);
  EXPECT_EQ(model->mainUrl(), serverUrl(82) + path);
}

using DownloadTest = ModelTest;

// Every fall-through of primary -> spare -> libcurl primary -> libcurl spare, with the server
// failing in chosen ways; the route that succeeds is the one asked last.
TEST_F(DownloadTest, RoutesFallThroughInOrder) {
  struct Case {
    const char* name;
    int mainFailures, spareFailures;
    int mainRequests, spareRequests;
    bool ready;
  } cases[] = {
      {"primary", 0, 0, 1, 0, true},
      {"spare", 1, 0, 1, 1, true},
      {"curl primary", 1, 1, 2, 1, true},
      {"curl spare", 2, 1, 2, 2, true},
      {"all fail", 2, 2, 2, 2, false},
  };
  for (const Case& c : cases) {
    renewModel();
    std::wstring mainPath = serve(installerVariant("signed"), L"qxinst.exe");
    std::wstring sparePath = serve(installerVariant("signed"), L"qxinst.exe");
    std::unique_ptr<test_server::Rule> mainRule, spareRule;
    if (c.mainFailures) mainRule.reset(new test_server::Rule(ts::wideToUtf8(mainPath), "404", 0, "", c.mainFailures));
    if (c.spareFailures)
      spareRule.reset(new test_server::Rule(ts::wideToUtf8(sparePath), "reset", 0, "", c.spareFailures));
    model->setUrlsForTesting(serverUrl(82) + mainPath, serverUrl(83) + sparePath, ts::uniqueName(L"v"));
    model->realDownloadPlayer();
    ASSERT_TRUE(ts::pumpUntil([&] { return ready + failed > 0; }, 60000)) << c.name << log.text();
    EXPECT_EQ(ready, c.ready ? 1 : 0) << c.name;
    EXPECT_EQ(failed, c.ready ? 0 : 1) << c.name;
    EXPECT_EQ(requestCount(mainPath), c.mainRequests) << c.name;
    EXPECT_EQ(requestCount(sparePath), c.spareRequests) << c.name;
    std::wstring target = EditionCatalog::instance().installerFileName(installDir, model->playerVersion());
    // A failed libcurl route may leave its partial file; only a success leaves a verified one.
    EXPECT_EQ(verifyInstallerSignature(target, build::kPublisherName, nullptr), c.ready) << c.name;
  }
}

// Files that fail verification are never announced ready, whichever route brought them.
TEST_F(DownloadTest, UnverifiedInstallersAreNeverReady) {
  for (const char* variant : {"unsigned", "tampered", "other_publisher", "untrusted_root"}) {
    renewModel();
    std::wstring path = serve(installerVariant(variant), L"qxinst.exe");
    model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, ts::uniqueName(L"v"));
    model->realDownloadPlayer();
    ASSERT_TRUE(ts::pumpUntil([&] { return ready + failed > 0; }, 60000)) << variant << log.text();
    EXPECT_EQ(ready, 0) << variant;
    EXPECT_EQ(failed, 1) << variant;
    EXPECT_EQ(requestCount(path), 4) << variant;  // two platform routes, two libcurl routes
  }
}

// A signed installer already on disk is ready at once without network access; an unsigned one is
// downloaded again.
TEST_F(DownloadTest, ReusesOnlyASignedInstallerOnDisk) {
  std::wstring path = serve(installerVariant("signed"), L"qxinst.exe");
  model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, ts::uniqueName(L"v"));
  std::wstring target = EditionCatalog::instance().installerFileName(installDir, model->playerVersion());
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), target.c_str(), FALSE));
  model->realDownloadPlayer();
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(requestCount(path), 0);

  renewModel();
  model->setUrlsForTesting(serverUrl(82) + path, serverUrl(83) + path, ts::uniqueName(L"v"));
  target = EditionCatalog::instance().installerFileName(installDir, model->playerVersion());
  ASSERT_TRUE(CopyFileW(installerVariant("unsigned").c_str(), target.c_str(), FALSE));
  model->realDownloadPlayer();
  EXPECT_EQ(ready, 0);
  ASSERT_TRUE(ts::pumpUntil([&] { return ready + failed > 0; }, 60000));
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(requestCount(path), 1);
}

// The remembered installer with the same file name in another folder is reused and becomes the
// catalogue's override; one with another name is ignored.
TEST_F(DownloadTest, RememberedInstallerIsReused) {
  std::wstring folder = ts::appDataDir() + L"\\qxdownloader";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring version = ts::uniqueName(L"v");
  std::wstring elsewhere = ts::makeTempDir(L"old") + L"qxinst_" + version + L".exe";
  ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), elsewhere.c_str(), FALSE));
  ASSERT_TRUE(ts::writeFile(folder + L"\\cachepath.data", ts::wideToUtf8(elsewhere)));
  model->setUrlsForTesting(serverUrl(82) + L"/files/never", serverUrl(83) + L"/files/never", version);
  model->realDownloadPlayer();
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(EditionCatalog::instance().installerOverride, elsewhere);
  EXPECT_EQ(EditionCatalog::instance().installerFileName(installDir, version), elsewhere);
  DeleteFileW((folder + L"\\cachepath.data").c_str());
}

// Progress reaches the window at most once a second; without a length the percentage passes 100.
TEST_F(DownloadTest, ProgressIsThrottledAndComputed) {
  EXPECT_TRUE(model->onDownloadProgress(nullptr, 0, 2097152, 10485760));
  EXPECT_TRUE(model->onDownloadProgress(nullptr, 0, 4194304, 10485760));  // within the second: dropped
  ASSERT_TRUE(ts::pumpUntil([&] { return progress.size() == 1; }));
  EXPECT_EQ(progress[0].percent, 20);
  ts::pumpUntil([] { return false; }, 1100);
  EXPECT_TRUE(model->onDownloadProgress(nullptr, 0, 20971520, 10485760));
  ASSERT_TRUE(ts::pumpUntil([&] { return progress.size() == 2; }));
  EXPECT_EQ(progress[1].percent, 200);
  EXPECT_EQ(progress[1].received, 20971520);
  // Counts beyond 4 GiB stay whole.
  ts::pumpUntil([] { return false; }, 1100);
  EXPECT_TRUE(model->onDownloadProgress(nullptr, 0, 3000000000LL, 6000000000LL));
  ASSERT_TRUE(ts::pumpUntil([&] { return progress.size() == 3; }));
  EXPECT_EQ(progress[2].percent, 50);
  EXPECT_EQ(progress[2].expected, 6000000000LL);
}

// Shutdown in every phase returns within the stop waits of the model's threads, and no callback
// runs after it: while the URL document hangs, while the click waits for the URL, while the
// installer download stalls, while the installer runs.
TEST_F(DownloadTest, ShutdownInEveryPhaseStopsEverything) {
  std::wstring stalled = serve(installerVariant("signed"), L"qxinst.exe");
  test_server::Rule stall(ts::wideToUtf8(stalled), "stall");
  test_server::Rule stallConfig("/qx/tessaroex", "stall");
  const wchar_t* phases[] = {L"url document", L"url poll", L"download", L"install"};
  for (const wchar_t* phase : phases) {
    renewModel();
    std::wstring name = phase;
    if (name == L"url document") {
      model->setPinnedUrlsForTesting(L"", L"");
      model->init(nullptr);
      ASSERT_TRUE(ts::pollUntil([&] { return requestCount(L"/qx/tessaroex") > 0; }));
    } else if (name == L"url poll") {
      model->setUrlsForTesting(L"", L"", ts::uniqueName(L"v"));
      model->startDownloadPlayerEx(nullptr, false);
      ts::pumpUntil([] { return false; }, 1200);
    } else if (name == L"download") {
      int before = requestCount(stalled);
      model->setUrlsForTesting(serverUrl(82) + stalled, serverUrl(83) + stalled, ts::uniqueName(L"v"));
      model->realDownloadPlayer();
      ASSERT_TRUE(ts::pollUntil([&] { return requestCount(stalled) > before; }));
    } else {
      std::wstring version = ts::uniqueName(L"v");
      model->setUrlsForTesting(L"http://unused", L"http://unused", version);
      std::wstring installer = EditionCatalog::instance().installerFileName(installDir, version);
      ASSERT_TRUE(CopyFileW(installerVariant("signed").c_str(), installer.c_str(), FALSE));
      std::wstring control = ts::makeTempDir(L"control") + L"control.txt";
      ASSERT_TRUE(ts::writeFile(control, "installer.sleep_ms=20000\ninstaller.fail=1\n"));  // installs nothing
      SetEnvironmentVariableW(L"ORV_STANDIN_CONTROL", control.c_str());
      model->startInstall();
      SetEnvironmentVariableW(L"ORV_STANDIN_CONTROL", nullptr);
      ASSERT_TRUE(log.waitFor("install_player", L"install player wait"));
    }
    DWORD begin = GetTickCount();
    HVDownloaderModel::abandonInstanceForTesting();
    // Four threads, 1000 ms each at most, and the cancelled transfers.
    EXPECT_LT(GetTickCount() - begin, 6000u) << phase;
    ts::pumpUntil([] { return false; }, 1500);
    EXPECT_EQ(ready + failed + static_cast<int>(finished.size()) + static_cast<int>(progress.size()), 0) << phase;
  }
  model = HVDownloaderModel::instance();  // for TearDown
}

// The first model holds the single-instance mutex; a second one finds it, asks the first one's
// window to show itself and says so.
TEST_F(UrlTest, SecondInstanceSignalsTheFirst) {
  struct Endpoint : utility::IWindowIPCHandle {
    int shown = 0;
    int onHandleWindowIPC(int message, WPARAM, LPARAM) override {
      if (message == 11123) ++shown;
      return 0;
    }
  } first;
  utility::WindowIPC endpoint;
  ASSERT_TRUE(endpoint.create(L"{2266E930-7040-4A6B-B7C8-E44663785cdd}", &first));
  EXPECT_FALSE(model->popupExistPwnd());
  EXPECT_TRUE(log.waitFor("HVDownloaderModel::popupExistPwnd", L"CCmdLine::popupExistPwnd not exist"));
  EXPECT_TRUE(model->popupExistPwnd());
  EXPECT_TRUE(log.waitFor("HVDownloaderModel::popupExistPwnd", L"HVDownloaderModel::popupExistPwnd exist"));
  EXPECT_TRUE(ts::pumpUntil([&] { return first.shown == 1; }));
  // Shutdown lets the mutex go.
  HVDownloaderModel::destroyInstance();
  model = HVDownloaderModel::instance();
  EXPECT_FALSE(model->popupExistPwnd());
}
