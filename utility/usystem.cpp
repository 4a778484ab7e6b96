#include "utility/usystem.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace utility {
namespace usystem {

bool isVistaOrLater() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
    // Very old systems know only the short record.
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  }
  return version.dwMajorVersion > 5;
}

bool isArchitecture64(WORD processorArchitecture) {
  return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 || processorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool is64BitSystem() {
  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  SYSTEM_INFO info{};
  // Looked up at run time: systems before XP have no GetNativeSystemInfo, and only it sees past WOW64.
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  FARPROC proc = kernel ? GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
  if (proc) {
    GetNativeSystemInfoFn native;
    static_assert(sizeof native == sizeof proc, "function pointer sizes differ");
    std::memcpy(&native, &proc, sizeof native);
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  return isArchitecture64(info.wProcessorArchitecture);
}

std::wstring formatGuidString(const GUID& guid) {
  wchar_t buffer[64] = {};
  std::swprintf(buffer, 64, L"%08X_%04X_%04x_%02X%02X_%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(guid.Data1),
                static_cast<unsigned>(guid.Data2), static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return buffer;
}

std::wstring createGuidString() {
  GUID guid{};
  if (FAILED(CoCreateGuid(&guid))) return std::wstring();
  return formatGuidString(guid);
}

HANDLE createNamedMutex(const std::wstring& name, bool initialOwner, bool failIfExists) {
  HANDLE mutex = CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name.c_str());
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS && failIfExists) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

void bringWindowToFront(HWND window) {
  if (IsIconic(window)) SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) {
    ShowWindow(window, SW_SHOW);
    return;
  }
  SetForegroundWindow(window);
  BringWindowToTop(window);
  // Topmost and straight back lifts the window above others without leaving it topmost.
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
}

int openUrl(const std::wstring& address) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = address.c_str();
  info.nShow = SW_SHOW;
  if (ShellExecuteExW(&info)) return 1;
  HINSTANCE result = ShellExecuteW(nullptr, L"open", L"iexplore.exe", address.c_str(), nullptr, SW_SHOW);
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

bool enableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  bool ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) != FALSE;
  if (ok) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds even when it could not assign the privilege; that shows in
    // the last error only.
    ok = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return ok;
}

bool rebootSystem() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) enableShutdownPrivilege();
  return ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0) != FALSE;
}

}  // namespace usystem
}  // namespace utility
