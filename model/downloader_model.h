// The installer model: one object per process that holds the job (edition, channel and campaign
// identifiers, install folder, installer URLs and version, game packages) and does the work on its
// own worker threads.
//
// Threads: operations named "_thread..." run on the model's workers; everything else on the UI
// thread unless noted. The four callbacks run only on the UI thread: workers post them under
// `uiOwner`, and shutdown cancels that owner, so no callback runs after it. No field is locked:
// fields are written in the order of the flow (URL, then download, then installation).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/device_identity.h"
#include "net/http_downloader.h"
#include "net/main_thread_dispatcher.h"
#include "net/worker_thread.h"
#include "utility/file_handle.h"
#include "utility/process.h"

// One game package to install after the emulator.
struct ApkRequest {
  std::wstring url;
  std::wstring package;
  std::wstring name;
  std::wstring resolution;
  bool isXapk = false;
};

// Settings written after a successful install; with these values nothing is written or fetched.
struct PostInstallOptions {
  std::wstring launchPicture1920Url;
  std::wstring launchPicture1080Url;
  std::wstring gameTitle;
  bool adShow = true;
  std::wstring runApp;
  bool runAppStore = true;
  std::wstring qqLink;
  std::wstring gameIconName;
  std::wstring gameIconUrl;
  bool cleanModel = false;
  std::wstring heapSize;
  int useRoot = -1;
};

class HVDownloaderModel : public utility::CHttpDownloader::IHttpDownloadSink {
 public:
  // Creates the model on first use (the entry point's call, before any worker exists).
  static HVDownloaderModel* instance();
  // Shuts the model down, destroys it and clears the instance; safe when none exists.
  static void destroyInstance();
  // Shuts the model down and clears the instance but keeps its memory: its owner key stays
  // cancelled for the life of the process, so no later model may be created at that address.
  static void abandonInstanceForTesting();

  // Callbacks installed by the main window; invoked on the UI thread only. Counts are 64-bit so
  // installers of 2 GiB and more report sane sizes.
  std::function<void(int percent, long long received, long long expected)> onProgress;
  std::function<void()> onInstallerReady;
  std::function<void()> onDownloadFailed;
  std::function<void(bool succeeded)> onInstallFinished;

  // Start-up and teardown.
  bool popupExistPwnd();
  void init(const wchar_t* commandLine);
  void shutdown();

  // Accessors (copies).
  std::wstring openId() const { return openId_; }
  std::wstring installPath() const { return installPath_; }
  std::wstring registryInstallDir() const { return registryInstallDir_; }
  std::wstring playerVersion() const { return playerVersion_; }
  std::wstring downloadUrl() const { return spareUrl_.empty() ? mainUrl_ : spareUrl_; }
  std::wstring mainUrl() const { return mainUrl_; }
  std::wstring spareUrl() const { return spareUrl_; }
  std::wstring package() const { return package_; }
  std::wstring baiduId() const { return baiduId_; }
  std::wstring bestPath() const { return bestPath_; }
  bool bestDriveIsSsd() const { return bestDriveIsSsd_; }
  bool hasEmulatorData() const { return hasEmulatorData_; }
  int phase() const { return phase_; }
  int lastPercent() const { return lastPercent_; }
  std::vector<ApkRequest> apkRequests() const { return apkRequests_; }

  // Install location.
  void _calcInstallPath();
  void setInstallPath(const std::wstring& path);

  // Installer URL.
  void _threadGetPlayerUrl();
  void startDownloadPlayerEx(HWND owner, bool keepCache);

  // Installer download and verification.
  void realDownloadPlayer();
  void _threadDownloadPlayerByIE();
  bool _downloadByUrl(const std::wstring& target);
  bool onDownloadProgress(const void* data, DWORD size, long long received, long long expected) override;

  // Installer run and post-install work.
  void startInstall();
  void _threadInstallPlayer();
  void postInstallWork();
  void createApkShortCut();

  // Launch.
  void runPlayer(const std::wstring& arguments);
  void runPlayerWithPackage();
  void launchGame();

  // Conversion report (blocking; the type-5 one is sent from a worker of the model).
  void reportBaiduActivity(int conversionType);

  // String bundle.
  bool loadLanguage(const std::wstring& text);
  std::wstring getString(const std::wstring& id) const;

  // Test seams.
  void setPinnedUrlsForTesting(const std::wstring& primary, const std::wstring& spare);
  void setInstallWaitForTesting(DWORD waitMs) { installWaitMs_ = waitMs; }
  PostInstallOptions& postInstallOptionsForTesting() { return options_; }
  void setUrlsForTesting(const std::wstring& main, const std::wstring& spare, const std::wstring& version);
  void setCampaignForTesting(const std::wstring& package, const std::wstring& baiduId) {
    package_ = package;
    baiduId_ = baiduId;
  }

 private:
  HVDownloaderModel();
  ~HVDownloaderModel() override;

  void postToUi(std::function<void()> task);
  void postProgress(long long received, long long expected);
  bool downloadWithCurl(const std::wstring& url, const std::wstring& target);
  bool verifyAndHold(const char* tag, const std::wstring& path);
  void writeSetting(const wchar_t* key, const std::wstring& value, bool narrow);
  void _threadConversionReport();

  std::wstring package_;
  WorkerThread urlWorker_;
  utility::CHttpDownloader configClient_;
  WorkerThread downloadWorker_;
  utility::CHttpDownloader primaryDownloader_;
  utility::CHttpDownloader spareDownloader_;
  WorkerThread installWorker_;
  WorkerThread reportWorker_;  // the conversion report sent at the click, off the UI thread
  int uiOwner_ = 0;            // owner key of every task the model posts
  HANDLE instanceMutex_ = nullptr;
  std::wstring registryInstallDir_;
  std::wstring installPath_;
  bool hasEmulatorData_ = false;
  std::wstring openId_ = L"402038";
  std::wstring mainUrl_;
  std::wstring spareUrl_;
  std::wstring playerVersion_;
  std::wstring installerLanguage_;
  TaskTimer urlPollTimer_;
  DWORD lastProgressTick_ = 0;
  int lastPercent_ = 0;
  std::map<std::wstring, std::wstring> languageTexts_;
  std::vector<ApkRequest> apkRequests_;
  vbox::GoogleAnalytics analytics_;
  PostInstallOptions options_;
  int phase_ = 0;
  std::wstring baiduId_;
  std::wstring bestPath_;
  bool bestDriveIsSsd_ = false;

  std::wstring pinnedPrimary_;
  std::wstring pinnedSpare_;
  DWORD installWaitMs_ = 180000;
  // The verified installer, held open with read sharing only until its process exists.
  utility::FileHandle verifiedInstaller_;
  std::wstring verifiedPath_;
};

// Starts the installer and classifies its end; reports "complete_install". False only when the
// process could not be created.
bool install_player(const std::wstring& path, const std::wstring& arguments, DWORD waitMs = 180000);
// Ends the emulator's processes that run under their exact executable names.
void killEmulatorProcesses();
// Ends the processes of that exact executable name when the snapshot holds it.
void killProcessIfRunning(const utility::process::ProcessNameMap& running, const std::wstring& name);
// Whether runPlayer starts the emulator with the desktop shell's token on a system that reports
// this version (the program declares no compatibility, so Windows 8 and later report 6.2).
bool startsWithShellToken(DWORD major, DWORD minor);
// Starts a program with the desktop shell's token (not elevated); 0 on success, -1 on failure.
int runAsExplorerUser(const std::wstring& program, const std::wstring& arguments);
// "-silence -downloader -openid=<id>[ -language=<code>] -path="<folder>"".
std::wstring installerArguments(const std::wstring& openId, const std::wstring& language, const std::wstring& folder);
