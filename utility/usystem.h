// Small system queries and actions: OS generation, 64-bit test, GUID text, the named mutex behind
// the single-instance rule, raising a window, opening an address, restarting the computer.
// No state, no log lines; failures show only in the results. Any thread, except that
// bringWindowToFront belongs on a thread that may activate windows (the UI thread).
#pragma once

#include <windows.h>

#include <string>

namespace utility {
namespace usystem {

// True when the reported major version is greater than 5. Programs without a supported-OS
// manifest entry may be told a compatibility version; any 6 or more counts.
bool isVistaOrLater();

// True on an x64 or Itanium system, also for a 32-bit program under WOW64.
bool is64BitSystem();
// The rule on the native processor architecture: 9 (AMD64) and 6 (IA64) are 64-bit.
bool isArchitecture64(WORD processorArchitecture);

// A new GUID as "%08X_%04X_%04x_%02X%02X_%02X%02X%02X%02X%02X%02X" (36 characters), or empty.
// Needs no COM initialisation.
std::wstring createGuidString();
std::wstring formatGuidString(const GUID& guid);

// CreateMutexW with default security. With failIfExists, a mutex that existed already is closed
// and null returned. The handle belongs to the caller; null on failure.
HANDLE createNamedMutex(const std::wstring& name, bool initialOwner, bool failIfExists);

// Restores a minimised window, then raises it above other windows without leaving it topmost;
// a topmost window is only shown.
void bringWindowToFront(HWND window);

// Opens an address or document with the shell; 1 on success. Otherwise starts "iexplore.exe" with
// the address and returns that call's result value (greater than 32 on success).
int openUrl(const std::wstring& address);

// Enables SeShutdownPrivilege in the process token.
bool enableShutdownPrivilege();

// Asks for a restart (EWX_REBOOT | EWX_FORCEIFHUNG); true when the request was accepted.
bool rebootSystem();

}  // namespace usystem
}  // namespace utility
