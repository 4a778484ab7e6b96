// The other process of the window-IPC and mutex tests.
//   endpoint NAME FILE       take the mutex NAME (refusing an existing one; exit 3 if refused),
//                            open an endpoint of class NAME, append "message wParam lParam" lines
//                            to FILE for each message the handler gets; exit 0 after 11123
//                            (5 when nothing ends it within 60 s)
//   post CLASS M:W:L ...     find the endpoint of CLASS and post each message; exit 0, 1 when
//                            not found, 2 when a post failed
//   mutex NAME FAIL          createNamedMutex(NAME, no owner, failIfExists = FAIL); exit 1 with a
//                            handle, 0 with null
#include <windows.h>

#include <cwchar>
#include <string>

#include "utility/usystem.h"
#include "utility/window_ipc.h"

namespace {

class Recorder : public utility::IWindowIPCHandle {
 public:
  explicit Recorder(std::wstring path) : path_(std::move(path)) {}
  int onHandleWindowIPC(int message, WPARAM wParam, LPARAM lParam) override {
    std::string line = std::to_string(message) + " " + std::to_string(static_cast<unsigned long long>(wParam)) + " " +
                       std::to_string(static_cast<long long>(lParam)) + "\n";
    HANDLE file = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
    if (message == 11123) PostQuitMessage(0);
    return 0;
  }

 private:
  std::wstring path_;
};

int runEndpoint(const std::wstring& name, const std::wstring& recordPath) {
  HANDLE mutex = utility::usystem::createNamedMutex(name, false, true);
  if (!mutex) return 3;
  Recorder recorder(recordPath);
  utility::WindowIPC endpoint;
  if (!endpoint.create(name, &recorder)) return 4;
  // A bound on the process's life when the test never sends the final message.
  SetTimer(nullptr, 0, 60000, nullptr);
  MSG msg;
  int code = 0;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      code = 5;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  CloseHandle(mutex);
  return code;
}

int runPost(int argc, wchar_t** argv) {
  utility::WindowIPC peer;
  if (!peer.open(argv[2])) return 1;
  for (int i = 3; i < argc; ++i) {
    unsigned message = 0;
    unsigned long long wParam = 0;
    long long lParam = 0;
    if (std::swscanf(argv[i], L"%u:%llu:%lld", &message, &wParam, &lParam) != 3) return 2;
    if (!peer.post(message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam))) return 2;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 100;
  std::wstring mode = argv[1];
  if (mode == L"endpoint" && argc >= 4) return runEndpoint(argv[2], argv[3]);
  if (mode == L"post") return runPost(argc, argv);
  if (mode == L"mutex" && argc >= 4) {
    HANDLE mutex = utility::usystem::createNamedMutex(argv[2], false, std::wcscmp(argv[3], L"1") == 0);
    if (!mutex) return 0;
    CloseHandle(mutex);
    return 1;
  }
  return 100;
}
