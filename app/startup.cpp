#include "app/startup.h"

#include <objbase.h>
#include <winsock2.h>

#include "build_config.h"
#include "common/log.h"
#include "model/downloader_model.h"
#include "net/main_thread_dispatcher.h"
#include "net/reporter.h"
#include "resources/skin_init.h"
#include "utility/ufile.h"

namespace app {
namespace {

MessageFilter g_messageFilter = nullptr;

}  // namespace

void setMessageFilter(MessageFilter filter) { g_messageFilter = filter; }

std::wstring prepareLogFile() {
  std::wstring folder = utility::ufile::getAppDataDir() + L"\\downloader\\";
  // Not reported: the log is not running yet, and the program works without it.
  if (!utility::ufile::fileExists(folder)) utility::ufile::makeDir(folder);
  return folder + L"downloader.log";
}

void runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (g_messageFilter && g_messageFilter(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int runDownloader(HINSTANCE /*instance*/, const wchar_t* commandLine) {
  if (FAILED(CoInitialize(nullptr))) {
    MessageBoxW(nullptr, L"error", L"error1", MB_OK);
    return 0;
  }
  WSADATA wsa;
  WSAStartup(0x0202, &wsa);  // failures surface later in the HTTP clients

  std::wstring logFile = prepareLogFile();
  common::installLogSink();
  MainThreadDispatcher::create();
  common::startLogWriter(logFile);
  common::log("wWinMain", __LINE__, L"\r\n\r\n start run");
  HVDownloaderModel::instance()->init(commandLine);

  common::log("wWinMain", __LINE__,
              L"downloader start. version is : %s *******************************************************",
              build::kDownloaderVersion);
  // For an exe this is the instance handle the entry received.
  resources::initSkin(GetModuleHandleW(nullptr));

  runMessageLoop();

  QXReporter::instance().shutdown();  // sends what is queued; waits at most 5000 ms
  HVDownloaderModel::destroyInstance();  // normally done already when the main window closed
  CoUninitialize();
  common::stopLogWriter();
  return 0;
}

}  // namespace app
