#include "test_support.h"

#include <shlobj.h>

#include <atomic>
#include <vector>

#include "standin_common.h"
#include "test_config.h"

namespace testing_support {

bool pollUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(10);
  }
}

bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (condition()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return condition();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

std::wstring uniqueName(const std::wstring& prefix) {
  static std::atomic<int> counter{0};
  return prefix + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter) + L"_" +
         std::to_wstring(GetTickCount());
}

std::wstring makeTempDir(const std::wstring& prefix) {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + uniqueName(prefix) + L"\\";
  SHCreateDirectory(nullptr, dir.c_str());
  return dir;
}

// The stand-ins' file helpers, so tests and stand-ins read and write alike.
bool readFile(const std::wstring& path, std::string& bytes) { return standin::readBytes(path, bytes); }
bool writeFile(const std::wstring& path, const std::string& bytes) { return standin::writeBytes(path, bytes); }

std::wstring testProgram(const std::wstring& exeName) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir = self;
  dir.erase(dir.find_last_of(L'\\') + 1);
  return dir + exeName;
}

bool startProcess(const std::wstring& exe, const std::wstring& args, PROCESS_INFORMATION& pi) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!args.empty()) commandLine += L" " + args;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si{};
  si.cb = sizeof si;
  return CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

int waitForExit(PROCESS_INFORMATION& pi, DWORD timeoutMs) {
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

int runProcess(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs) {
  PROCESS_INFORMATION pi{};
  return startProcess(exe, args, pi) ? waitForExit(pi, timeoutMs) : -1;
}

namespace {

std::wstring shellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

}  // namespace

std::wstring appDataDir() { return shellFolder(CSIDL_APPDATA); }
std::wstring desktopDir() { return shellFolder(CSIDL_DESKTOPDIRECTORY); }

}  // namespace testing_support
