#include "utility/process.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "common/log.h"
#include "utility/usystem.h"

namespace utility {
namespace process {

std::wstring buildCommandLine(const std::wstring& file, const std::wstring& parameters) {
  std::wstring commandLine = L"\"" + file + L"\"";
  if (!parameters.empty()) commandLine += L" " + parameters;
  return commandLine;
}

const wchar_t* shellVerb(bool runas, bool vistaOrLater) { return runas && vistaOrLater ? L"runas" : L"open"; }

bool shell(const std::wstring& file, const std::wstring& parameters, bool runas, bool show) {
  const char* tag = "utility::process::shell";
  common::log(tag, __LINE__, L"shell filename = [%s], param = [%s], runas = %d, show = %d", file.c_str(),
              parameters.c_str(), runas ? 1 : 0, show ? 1 : 0);
  const wchar_t* verb = shellVerb(runas, usystem::isVistaOrLater());
  HINSTANCE result = ShellExecuteW(nullptr, verb, file.c_str(), parameters.c_str(), nullptr, show ? SW_SHOW : SW_HIDE);
  DWORD error = GetLastError();
  common::log(tag, __LINE__, L"shellEx ret . lastError = %d", static_cast<int>(error));
  if (reinterpret_cast<INT_PTR>(result) > 32) return true;
  common::log(tag, __LINE__, L"shellEx failed!!! lastError = %d", static_cast<int>(error));
  return false;
}

HANDLE create(const std::wstring& file, const std::wstring& parameters, bool show, DWORD* pidOut) {
  const char* tag = "utility::process::create";
  common::log(tag, __LINE__, L"createProcess filename = [%s], param = [%s], show = %d", file.c_str(),
              parameters.c_str(), show ? 1 : 0);
  std::wstring commandLine = buildCommandLine(file, parameters);
  // CreateProcessW may write into the command line, so it gets a private copy.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show ? SW_SHOW : SW_HIDE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                      &info)) {
    common::log(tag, __LINE__, L"createProcess failed!!! lastError = %d", static_cast<int>(GetLastError()));
    return nullptr;
  }
  CloseHandle(info.hThread);
  if (pidOut) *pidOut = info.dwProcessId;
  return info.hProcess;
}

bool execute(const std::wstring& file, const std::wstring& parameters, bool show, DWORD timeoutMs) {
  const char* tag = "utility::process::execute";
  HANDLE process = create(file, parameters, show, nullptr);
  if (!process) {
    common::log(tag, __LINE__, L"execute failed!!! last error = %d", static_cast<int>(GetLastError()));
    return false;
  }
  bool result = false;
  if (timeoutMs == 0) {
    result = true;
  } else {
    DWORD wait = WaitForSingleObject(process, timeoutMs);
    if (wait == WAIT_OBJECT_0) {
      DWORD exitCode = 0xFFFFFFFF;
      GetExitCodeProcess(process, &exitCode);
      result = exitCode == 0;
      common::log(tag, __LINE__, L"execute exitcode = %d lastError = %d", static_cast<int>(exitCode),
                  static_cast<int>(GetLastError()));
    } else if (wait == WAIT_TIMEOUT) {
      common::log(tag, __LINE__, L"execute timeout!!!");
    } else if (wait == WAIT_FAILED) {
      common::log(tag, __LINE__, L"execute failed!!! lastError = %d", static_cast<int>(GetLastError()));
    }
  }
  CloseHandle(process);
  return result;
}

void listProcessesByName(ProcessNameMap& processes) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    std::fputs("CreateToolhelp32Snapshot (of processes)\n", stdout);
    return;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot, &entry)) {
    std::fputs("Process32First\n", stdout);
  } else {
    do {
      // emplace keeps the first process met for a name.
      processes.emplace(entry.szExeFile, entry.th32ProcessID);
    } while (Process32NextW(snapshot, &entry));
  }
  CloseHandle(snapshot);
}

}  // namespace process
}  // namespace utility
