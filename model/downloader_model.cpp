#include "model/downloader_model.h"

#include <objbase.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "build_config.h"
#include "common/log.h"
#include "common/text_codec.h"
#include "model/conversion_report.h"
#include "model/edition_catalog.h"
#include "model/installer_config.h"
#include "model/installer_signature.h"
#include "model/launch_params.h"
#include "net/curl_downloader.h"
#include "net/reporter.h"
#include "net/runable.h"
#include "resources/string_bundle.h"
#include "utility/disk.h"
#include "utility/process.h"
#include "utility/mapped_file.h"
#include "utility/ufile.h"
#include "utility/usystem.h"
#include "utility/window_ipc.h"

namespace {

HVDownloaderModel* g_model = nullptr;

constexpr wchar_t kSingleInstanceName[] = L"{2266E930-7040-4A6B-B7C8-E44663785cdd}";
constexpr UINT kShowMainFrameMessage = 11123;
constexpr wchar_t kPinnedPath[] = L"/dl/update/pc_tessaro_setup/qxinst_9.0.63.2.402038_0125.exe";
constexpr wchar_t kLocalConfigFile[] = L"C:\\tessaroex";
constexpr wchar_t kGameTitle[] = L"Orvanta游戏中心启动器";  // ten characters: the launcher shortcut's name

// Counts URL poll ticks for the life of the process.
int g_urlPollCount = 0;

std::wstring cachePathFile() { return utility::ufile::getAppDataDir() + L"\\qxdownloader\\cachepath.data"; }

std::wstring dataFolder(const std::wstring& installPath) { return installPath + L"\\data\\"; }

QXReporter& reporter() { return QXReporter::instance(); }

// "complete_install", with "failure_reason" only when there is one.
void reportCompleteInstall(const std::string& failureReason) {
  if (failureReason.empty()) {
    reporter().report(L"complete_install");
    return;
  }
  reporter().report(L"complete_install", [failureReason](rapidjson::Value& props,
                                                         rapidjson::Document::AllocatorType& alloc) {
    props.AddMember("failure_reason", rapidjson::Value(failureReason.c_str(), alloc), alloc);
  });
}

}  // namespace

// ---- lifetime ----

HVDownloaderModel* HVDownloaderModel::instance() {
  if (!g_model) g_model = new HVDownloaderModel;
  return g_model;
}

void HVDownloaderModel::destroyInstance() {
  if (!g_model) return;
  g_model->shutdown();
  delete g_model;
  g_model = nullptr;
}

void HVDownloaderModel::abandonInstanceForTesting() {
  if (!g_model) return;
  g_model->shutdown();
  g_model = nullptr;
}

HVDownloaderModel::HVDownloaderModel()
    : pinnedPrimary_(std::wstring(build::kDownloadCdn1) + kPinnedPath),
      pinnedSpare_(std::wstring(build::kDownloadCdn2) + kPinnedPath) {}

HVDownloaderModel::~HVDownloaderModel() = default;

void HVDownloaderModel::shutdown() {
  urlPollTimer_.stop();
  if (instanceMutex_) {
    CloseHandle(instanceMutex_);
    instanceMutex_ = nullptr;
  }
  // Cancel the transfers first, so the workers' blocked reads end before their stop waits run out.
  configClient_.cancel();
  primaryDownloader_.cancel();
  spareDownloader_.cancel();
  urlWorker_.stop(1000);
  installWorker_.stop(1000);
  downloadWorker_.stop(1000);
  reportWorker_.stop(1000);
  MainThreadDispatcher::cancelTasks(&uiOwner_);
  verifiedInstaller_.close();
}

void HVDownloaderModel::postToUi(std::function<void()> task) {
  MainThreadDispatcher::postTask(&uiOwner_, makeRunable(std::move(task)));
}

// ---- start-up ----

bool HVDownloaderModel::popupExistPwnd() {
  HANDLE mutex = utility::usystem::createNamedMutex(kSingleInstanceName, false, true);
  if (mutex) {
    instanceMutex_ = mutex;
    common::log("HVDownloaderModel::popupExistPwnd", __LINE__, L"CCmdLine::popupExistPwnd not exist");
    return false;
  }
  utility::WindowIPC peer;
  peer.open(kSingleInstanceName);
  peer.post(kShowMainFrameMessage, 0, 0);
  common::log("HVDownloaderModel::popupExistPwnd", __LINE__, L"HVDownloaderModel::popupExistPwnd exist");
  return true;
}

void HVDownloaderModel::init(const wchar_t* commandLine) {
  const char* tag = "HVDownloaderModel::init";
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = utility::ufile::getFileName(self, false);
  common::log(tag, __LINE__, L"HVDownloaderModel::exe filename= %s", name.c_str());

  FileNameParams params = parseFileName(name);
  if (params.matched) {
    package_ = params.package.empty() ? package_ : params.package;
    openId_ = params.openId;
    baiduId_ = params.baiduId;
    common::log(tag, __LINE__, L"model. type: %s, package:%s, openID:%s baiduid %s", params.type.c_str(),
                params.package.c_str(), params.openId.c_str(), baiduId_.c_str());
    if (params.edition >= 0) EditionCatalog::instance().edition = params.edition;
  }
  common::log(tag, __LINE__, L"openid is %s, package is %s", openId_.c_str(), package_.c_str());

  _calcInstallPath();

  if (commandLine) {
    std::map<std::wstring, std::wstring> items = parseCommandLineItems(commandLine);
    if (!items.empty()) {
      std::wstring apkName = items[L"name"], apkPackage = items[L"package"], apkUrl = items[L"apkurl"];
      if (!apkUrl.empty()) {
        ApkRequest request;
        request.url = apkUrl;
        request.package = apkPackage;
        request.name = apkName;
        apkRequests_.push_back(request);
      }
      common::log(tag, __LINE__, L"cmdline is %s, %s, %s", apkName.c_str(), apkPackage.c_str(), apkUrl.c_str());
    }
  }

  reporter().start(openId_, analytics_.deviceId());
  urlWorker_.start(new MemberFuncRunable<HVDownloaderModel>(this, &HVDownloaderModel::_threadGetPlayerUrl));
}

// ---- install location ----

void HVDownloaderModel::_calcInstallPath() {
  EditionCatalog& catalog = EditionCatalog::instance();
  if (installPath_.empty()) {
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, catalog.registryKey().c_str(), &key) == ERROR_SUCCESS) {
      wchar_t value[1024] = {};
      DWORD bytes = sizeof value - sizeof(wchar_t);
      DWORD type = 0;
      if (RegQueryValueExW(key, L"InstallDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) ==
              ERROR_SUCCESS &&
          type == REG_SZ)
        installPath_ = value;
      RegCloseKey(key);
    }
  }
  registryInstallDir_ = installPath_;
  common::log("HVDownloaderModel::_calcInstallPath", __LINE__, L"read from reg: path is %s", installPath_.c_str());
  if (!installPath_.empty()) {
    hasEmulatorData_ = utility::ufile::fileExists(installPath_ + L"\\vms\\");
    bestPath_ = helper::disk::getBestDrive(bestDriveIsSsd_);
  } else {
    installPath_ = helper::disk::getBestDrive(bestDriveIsSsd_) + catalog.installSubdir();
    common::log("HVDownloaderModel::_calcInstallPath", __LINE__, L"get install path from MaxFreeSpace: %s",
                installPath_.c_str());
    bestPath_ = installPath_;
  }
}

void HVDownloaderModel::setInstallPath(const std::wstring& path) {
  installPath_ = path;
  hasEmulatorData_ = utility::ufile::fileExists(path + L"\\vms\\");
}

// ---- installer URL ----

void HVDownloaderModel::setPinnedUrlsForTesting(const std::wstring& primary, const std::wstring& spare) {
  pinnedPrimary_ = primary;
  pinnedSpare_ = spare;
}

void HVDownloaderModel::setUrlsForTesting(const std::wstring& main, const std::wstring& spare,
                                          const std::wstring& version) {
  mainUrl_ = main;
  spareUrl_ = spare;
  playerVersion_ = version;
}

void HVDownloaderModel::_threadGetPlayerUrl() {
  const char* tag = "HVDownloaderModel::_threadGetPlayerUrl";
  common::log(tag, __LINE__, L"start get player url. definder url %s", pinnedPrimary_.c_str());
  if (!pinnedPrimary_.empty()) {
    mainUrl_ = pinnedPrimary_;
    spareUrl_ = pinnedSpare_;
  } else {
    EditionCatalog& catalog = EditionCatalog::instance();
    std::string text;
    if (utility::ufile::fileExists(kLocalConfigFile)) {
      utility::MappedFile file;
      if (file.open(kLocalConfigFile) && file.data())
        text.assign(reinterpret_cast<const char*>(file.data()), file.size());
    } else if (!configClient_.downloadToMemory(text, catalog.configUrl())) {
      common::log(tag, __LINE__, L"error 1");
      text.clear();
      std::string curlText;
      if (QXCurlDownloader::downloadMemory(curlText, wideToAnsi(catalog.configUrl()), {})) text = curlText;
    }
    InstallerConfig config{playerVersion_, mainUrl_, spareUrl_};
    if (!parseInstallerConfig(text, catalog.configMember(), config)) {
      common::log(tag, __LINE__, L"error 2");
    } else {
      playerVersion_ = config.version;
      mainUrl_ = config.url;
      spareUrl_ = config.spareUrl;
    }
  }
  if (spareUrl_.empty()) spareUrl_ = mainUrl_;
  if (playerVersion_.empty()) playerVersion_ = std::to_wstring(GetTickCount());
}

void HVDownloaderModel::startDownloadPlayerEx(HWND /*owner*/, bool /*keepCache*/) {
  phase_ = 1;
  if (!mainUrl_.empty()) {
    reporter().report(L"start_download");
    realDownloadPlayer();
    // The report blocks on the network: send it from a worker so the window stays responsive.
    if (!baiduId_.empty())
      reportWorker_.start(new MemberFuncRunable<HVDownloaderModel>(this, &HVDownloaderModel::_threadConversionReport));
    return;
  }
  common::log("HVDownloaderModel::startDownloadPlayerEx", __LINE__, L"start downloader. bug getting player url");
  urlPollTimer_.start(1000, makeRunable([this] {
    ++g_urlPollCount;
    if (g_urlPollCount < 4 && mainUrl_.empty()) return;
    urlWorker_.stop(1000);
    if (mainUrl_.empty()) {
      mainUrl_ = EditionCatalog::instance().defaultInstallerUrl();
      spareUrl_ = mainUrl_;
    }
    realDownloadPlayer();
    urlPollTimer_.stop();
  }));
}

void HVDownloaderModel::_threadConversionReport() { reportBaiduActivity(5); }

// ---- installer download and verification ----

bool HVDownloaderModel::verifyAndHold(const char* tag, const std::wstring& path) {
  verifiedInstaller_.close();
  bool ok = verifyInstallerSignature(path, build::kPublisherName, &verifiedInstaller_);
  verifiedPath_ = ok ? path : std::wstring();
  if (ok)
    common::log(tag, __LINE__, L"file sign ok");
  else
    common::log(tag, __LINE__, L"file sign error file = %s", path.c_str());
  return ok;
}

void HVDownloaderModel::realDownloadPlayer() {
  const char* tag = "HVDownloaderModel::realDownloadPlayer";
  EditionCatalog& catalog = EditionCatalog::instance();
  std::wstring path = catalog.installerFileName(installPath_, playerVersion_);
  if (!utility::ufile::fileExists(path)) {
    std::wstring remembered;
    utility::MappedFile file;
    if (file.open(cachePathFile()) && file.data())
      remembered = ansiToWide(std::string(reinterpret_cast<const char*>(file.data()), file.size()));
    if (!remembered.empty() &&
        utility::ufile::getFileName(remembered, true) == utility::ufile::getFileName(path, true)) {
      catalog.installerOverride = remembered;
      path = remembered;
      common::log(tag, __LINE__, L"from cache path %s", path.c_str());
    }
  }
  if (utility::ufile::fileExists(path)) {
    common::log(tag, __LINE__, L"installer has downloaded");
    if (verifyAndHold(tag, path)) {
      if (onInstallerReady) onInstallerReady();
      return;
    }
  }
  downloadWorker_.start(new MemberFuncRunable<HVDownloaderModel>(this, &HVDownloaderModel::_threadDownloadPlayerByIE));
}

void HVDownloaderModel::_threadDownloadPlayerByIE() {
  const char* tag = "HVDownloaderModel::_threadDownloadPlayerByIE";
  common::log(tag, __LINE__, L"_threadDownloadPlayer by ie");
  if (!utility::ufile::fileExists(installPath_)) utility::ufile::makeDir(installPath_);
  lastProgressTick_ = 0;
  std::wstring target = EditionCatalog::instance().installerFileName(installPath_, playerVersion_);
  DWORD begin = GetTickCount();
  bool ok = _downloadByUrl(target);
  DWORD elapsedSeconds = (GetTickCount() - begin) / 1000;
  if (ok) {
    postToUi([this] {
      if (onInstallerReady) onInstallerReady();
    });
  }
  common::log(tag, __LINE__, L"ie download finished, success = %d, elapse = %d", ok ? 1 : 0,
              static_cast<int>((elapsedSeconds + 29) / 30 * 30));
  if (ok) return;
  common::log(tag, __LINE__, L"download player by curl");
  ok = downloadWithCurl(mainUrl_, target) || downloadWithCurl(spareUrl_, target);
  common::log(tag, __LINE__, L"download player by curl end. ret :%d", ok ? 1 : 0);
  postToUi([this, ok] {
    if (ok && onInstallerReady) onInstallerReady();
    if (!ok && onDownloadFailed) onDownloadFailed();
  });
}

// One libcurl route: the file counts only once its signature verifies.
bool HVDownloaderModel::downloadWithCurl(const std::wstring& url, const std::wstring& target) {
  verifiedInstaller_.close();  // libcurl writes the final name itself
  QXCurlDownloader curl;
  bool ok = curl.downloadFile(target, wideToAnsi(url), [this](int, double received, double expected) {
    postProgress(static_cast<long long>(received), static_cast<long long>(expected));
  });
  return ok && verifyAndHold("HVDownloaderModel::_threadDownloadPlayerByIE", target);
}

bool HVDownloaderModel::_downloadByUrl(const std::wstring& target) {
  const char* tag = "HVDownloaderModel::_downloadByUrl";
  lastProgressTick_ = 0;
  common::log(tag, __LINE__, L"start download player playerurl is %s", mainUrl_.c_str());
  std::wstring tmp = target + L".tmp";
  // A route counts only when the whole body arrived, the file took its final name and its
  // signature verifies; the verified file then stays held until the installer runs.
  auto route = [&](utility::CHttpDownloader& downloader, const std::wstring& url) {
    verifiedInstaller_.close();
    return downloader.downloadToFile(url, tmp, this) &&
           utility::ufile::moveFile(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) &&
           verifyAndHold(tag, target);
  };
  if (!route(primaryDownloader_, mainUrl_)) {
    common::log(tag, __LINE__, L"download 1 error");
    common::log(tag, __LINE__, L"start download player 2 playerurl is %s", spareUrl_.c_str());
    if (!route(spareDownloader_, spareUrl_)) {
      common::log(tag, __LINE__, L"download 2 error");
      return false;
    }
  }
  common::log(tag, __LINE__, L"download file success file = %s", target.c_str());
  return true;
}

bool HVDownloaderModel::onDownloadProgress(const void*, DWORD, long long received, long long expected) {
  DWORD now = GetTickCount();
  if (now < lastProgressTick_ + 1000) return true;
  lastProgressTick_ = now;
  postProgress(received, expected);
  return true;
}

void HVDownloaderModel::postProgress(long long received, long long expected) {
  postToUi([this, received, expected] {
    lastPercent_ = expected > 0 ? static_cast<int>(static_cast<double>(received) / static_cast<double>(expected) * 100)
                                : 0;
    if (onProgress) onProgress(lastPercent_, received, expected);
  });
}

// ---- installer run ----

std::wstring installerArguments(const std::wstring& openId, const std::wstring& language, const std::wstring& folder) {
  std::wstring args = L"-silence -downloader -openid=" + openId;
  if (!language.empty()) args += L" -language=" + language;
  return args + L" -path=\"" + folder + L"\"";
}

void HVDownloaderModel::startInstall() {
  phase_ = 2;
  installWorker_.start(new MemberFuncRunable<HVDownloaderModel>(this, &HVDownloaderModel::_threadInstallPlayer));
}

void HVDownloaderModel::_threadInstallPlayer() {
  const char* tag = "HVDownloaderModel::_threadInstallPlayer";
  // The launcher shortcut is a COM object: this thread needs COM of its own.
  HRESULT com = CoInitialize(nullptr);
  std::wstring args = installerArguments(openId_, installerLanguage_, installPath_);
  common::log(tag, __LINE__, L"install player param: %s", args.c_str());
  std::wstring path = EditionCatalog::instance().installerFileName(installPath_, playerVersion_);
  killEmulatorProcesses();
  reporter().report(L"start_install");

  std::wstring cache = cachePathFile();
  utility::ufile::removeFile(cache);
  {
    utility::FileHandle file;
    if (file.openReadWrite(cache, true)) {
      std::string bytes = wideToAnsi(path);
      file.write(bytes.data(), static_cast<DWORD>(bytes.size()));
    }
  }

  bool succeeded = false;
  // Normally the download step's verification still holds this very file. Otherwise it is checked
  // now; a file that fails is never run. (A missing file goes on to fail its process creation.)
  bool held = verifiedInstaller_.isOpen() && verifiedPath_ == path;
  if (!held && utility::ufile::fileExists(path) && !verifyAndHold(tag, path)) {
    common::log(tag, __LINE__, L"install player refused, file sign error : %s", path.c_str());
    reportCompleteInstall("errSignature");
  } else {
    succeeded = install_player(path, args, installWaitMs_);
  }
  verifiedInstaller_.close();  // the process exists (or could not be created): the hold has served
  common::log(tag, __LINE__, L"start save config");
  postInstallWork();
  reportBaiduActivity(4);
  if (SUCCEEDED(com)) CoUninitialize();
  postToUi([this, succeeded] {
    phase_ = 3;
    if (onInstallFinished) onInstallFinished(succeeded);
  });
}

bool install_player(const std::wstring& path, const std::wstring& arguments, DWORD waitMs) {
  const char* tag = "install_player";
  std::wstring commandLine = L"\"" + path + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si,
                      &pi)) {
    std::string reason = "errCreateProcess_" + std::to_string(static_cast<unsigned long>(GetLastError()));
    reportCompleteInstall(reason);
    common::log(tag, __LINE__, L"install player error : %s", utf8ToWide(reason).c_str());
    return false;
  }
  CloseHandle(pi.hThread);
  common::log(tag, __LINE__, L"install player wait");
  DWORD wait = WaitForSingleObject(pi.hProcess, waitMs);
  CloseHandle(pi.hProcess);
  const char* reason = "";
  const wchar_t* line = L"install player unknow error";
  switch (wait) {
    case WAIT_OBJECT_0: line = L"install player complete"; break;
    case WAIT_TIMEOUT: reason = "timeout"; line = L"install player timeout"; break;
    case WAIT_FAILED: reason = "failed"; line = L"install player failed"; break;
    default: reason = "failed_unknow"; break;
  }
  reportCompleteInstall(reason);
  common::log(tag, __LINE__, line);
  return true;
}

void killProcessIfRunning(const utility::process::ProcessNameMap& running, const std::wstring& name) {
  if (running.count(name)) utility::process::execute(L"taskkill", L"/F /IM " + name + L" /T", false, 2000);
}

void killEmulatorProcesses() {
  static const wchar_t* const kNames[] = {L"hivora.exe", L"hvmultiplayer.exe", L"hvmultiplayerex.exe",
                                          L"bugreport.exe"};
  utility::process::ProcessNameMap running;  // one snapshot for all names
  utility::process::listProcessesByName(running);
  for (const wchar_t* name : kNames) killProcessIfRunning(running, name);
}

// ---- post-install work ----

void HVDownloaderModel::writeSetting(const wchar_t* key, const std::wstring& value, bool narrow) {
  std::wstring file = dataFolder(installPath_) + L"data.ini";
  if (!narrow) {
    WritePrivateProfileStringW(L"setting", key, value.c_str(), file.c_str());
    return;
  }
  // Through the ANSI interface, as the emulator reads these keys: UTF-16 -> ANSI -> UTF-16 -> UTF-8.
  std::string utf8 = wideToUtf8(ansiToWide(wideToAnsi(value)));
  WritePrivateProfileStringA("setting", wideToAnsi(key).c_str(), utf8.c_str(), wideToAnsi(file).c_str());
}

void HVDownloaderModel::postInstallWork() {
  std::wstring data = dataFolder(installPath_);
  utility::ufile::makeDir(data);
  helper::disk::createShortcut(kGameTitle, installPath_ + L"\\game.ico", installPath_, installPath_ + L"\\gormandel.exe",
                               L"");
  auto fetch = [](const std::wstring& url, const std::wstring& target, bool logAttempts) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (logAttempts)
        common::log("HVDownloaderModel::postInstallWork", __LINE__, L"download game icon :%s", target.c_str());
      utility::CHttpDownloader downloader;
      if (downloader.downloadToFile(url, target, nullptr)) return;
      Sleep(200);
    }
  };
  if (!options_.launchPicture1920Url.empty()) fetch(options_.launchPicture1920Url, data + L"launch_1920.jpg", false);
  if (!options_.launchPicture1080Url.empty()) fetch(options_.launchPicture1080Url, data + L"launch_1080.jpg", false);
  if (!options_.gameIconUrl.empty()) fetch(options_.gameIconUrl, data + options_.gameIconName + L".ico", true);

  if (!options_.adShow) writeSetting(L"adshow", L"0", false);
  if (options_.cleanModel) writeSetting(L"cleanmodel", L"1", false);
  if (!options_.adShow || options_.cleanModel) {
    HKEY key = nullptr;
    if (RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, L"QXNews");
      RegCloseKey(key);
    }
  }
  if (options_.useRoot == 0) writeSetting(L"useroot", L"0", false);
  if (!options_.runAppStore) writeSetting(L"runappstore", L"0", false);
  if (!options_.gameTitle.empty()) writeSetting(L"title", options_.gameTitle, true);
  if (!options_.heapSize.empty()) writeSetting(L"heapsize", options_.heapSize, true);
  if (!options_.qqLink.empty()) writeSetting(L"qqlink", options_.qqLink, false);
  if (!options_.runApp.empty()) writeSetting(L"runapp", options_.runApp, false);
}

void HVDownloaderModel::createApkShortCut() {
  if (options_.gameIconName.empty()) return;
  std::wstring icon = dataFolder(installPath_) + options_.gameIconName + L".ico";
  if (!utility::ufile::fileExists(icon)) return;
  common::log("HVDownloaderModel::createApkShortCut", __LINE__, L"start create shortcut");
  helper::disk::createShortcut(options_.gameIconName, icon, installPath_, installPath_ + L"\\hivora.exe",
                               L"package=" + options_.runApp);
  writeSetting(L"shortcut", options_.gameIconName, true);
}

// ---- launch ----

void HVDownloaderModel::runPlayer(const std::wstring& arguments) {
  const char* tag = "HVDownloaderModel::runPlayer";
  std::wstring program = installPath_ + L"\\hivora.exe";
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  }
  if (!startsWithShellToken(version.dwMajorVersion, version.dwMinorVersion)) {
    utility::process::shell(program, arguments, true, false);
  } else {
    common::log(tag, __LINE__, L"runPlayer no amdin %s", arguments.c_str());
    if (runAsExplorerUser(program, arguments) == -1) {
      common::log(tag, __LINE__, L"runPlayer no amdin error %d", static_cast<int>(GetLastError()));
      utility::process::shell(program, arguments, true, false);
    }
  }
  reporter().report(L"call_rez");
  reporter().flush();
}

bool startsWithShellToken(DWORD major, DWORD minor) { return major >= 6 && minor >= 2; }

void HVDownloaderModel::runPlayerWithPackage() {
  runPlayer(package_.empty() ? std::wstring() : L"downloadpackage=" + package_ + L"|package=" + package_);
}

void HVDownloaderModel::launchGame() {
  utility::process::shell(installPath_ + L"\\gormandel.exe", L"from=qxinstall", true, false);
}

namespace {

// A primary token of the desktop shell's process, or null.
HANDLE explorerToken() {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring shellPath = std::wstring(windows) + L"\\explorer.exe";
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE token = nullptr;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !token; more = Process32NextW(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
    if (!process) continue;
    wchar_t image[MAX_PATH] = {};
    HANDLE query = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
    if (query) {
      GetModuleFileNameExW(query, nullptr, image, MAX_PATH);
      CloseHandle(query);
    }
    std::wstring path = image[0] ? image : entry.szExeFile;
    if (path == shellPath || path == L"explorer.exe") {
      HANDLE own = nullptr;
      if (OpenProcessToken(process, TOKEN_DUPLICATE, &own)) {
        DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &token);
        CloseHandle(own);
      }
      CloseHandle(process);
      break;
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return token;
}

}  // namespace

int runAsExplorerUser(const std::wstring& program, const std::wstring& arguments) {
  HANDLE token = explorerToken();
  if (!token) return -1;
  std::wstring commandLine = arguments.empty() ? program : L"\"" + program + L"\" " + arguments;
  wchar_t buffer[1023] = {};
  commandLine.copy(buffer, 1022);
  using CreateWithToken = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                        LPPROCESS_INFORMATION);
  HMODULE advapi = LoadLibraryW(L"advapi32.dll");
  auto create = advapi ? reinterpret_cast<CreateWithToken>(
                             reinterpret_cast<void*>(GetProcAddress(advapi, "CreateProcessWithTokenW")))
                       : nullptr;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (create && create(token, LOGON_WITH_PROFILE, nullptr, buffer, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(token);
    return 0;
  }
  DWORD error = GetLastError();
  CloseHandle(token);
  SetLastError(error);
  return -1;
}

// ---- conversion report ----

void HVDownloaderModel::reportBaiduActivity(int conversionType) {
  const char* tag = "HVDownloaderModel::reportBaiduActivity";
  if (baiduId_.empty()) return;
  common::log(tag, __LINE__, L"start report baidu %s", baiduId_.c_str());
  std::string body = buildConversionBody(EditionCatalog::instance().homePage(), baiduId_, conversionType);
  common::log(tag, __LINE__, L"post body: %s", utf8ToWide(body).c_str());
  std::string response;
  bool ok = QXCurlDownloader::postRequest(body, response, build::kConversionUrl, {"platform:GW"});
  common::log(tag, __LINE__, L"baidu ret:%d, %s", ok ? 1 : 0, utf8ToWide(response).c_str());
}

// ---- string bundle ----

bool HVDownloaderModel::loadLanguage(const std::wstring& text) { return loadStringBundle(text, languageTexts_); }

std::wstring HVDownloaderModel::getString(const std::wstring& id) const {
  auto it = languageTexts_.find(id);
  return it == languageTexts_.end() ? id : it->second;
}
