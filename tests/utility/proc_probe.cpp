// A program for the process tests. Arguments, in any order:
//   --record FILE   write "<pid>\n<command line>" (UTF-8) to FILE
//   --sleep MS      wait that long before exiting
//   --wait EVENT    wait (at most 120 s) until the named event is set, then exit
//   --exit N        exit with code N (default 0)
// Without --record, the variable ORV_PROBE_RECORD names the file, so that a start without any
// arguments can be recorded too.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void record(const std::wstring& path) {
  std::wstring text = std::to_wstring(GetCurrentProcessId()) + L"\n" + GetCommandLineW();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  // Written aside and renamed, so a reader never sees half a record.
  std::wstring temp = path + L".part";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring recordPath;
  DWORD sleepMs = 0;
  std::wstring eventName;
  int exitCode = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring option = argv[i];
    if (option == L"--record") recordPath = argv[i + 1];
    else if (option == L"--sleep") sleepMs = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    else if (option == L"--wait") eventName = argv[i + 1];
    else if (option == L"--exit") exitCode = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
  }
  if (recordPath.empty()) {
    wchar_t fromEnv[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ORV_PROBE_RECORD", fromEnv, MAX_PATH) > 0) recordPath = fromEnv;
  }
  if (!recordPath.empty()) record(recordPath);
  if (sleepMs) Sleep(sleepMs);
  if (!eventName.empty()) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str());
    if (event) {
      WaitForSingleObject(event, 120000);
      CloseHandle(event);
    }
  }
  return exitCode;
}
