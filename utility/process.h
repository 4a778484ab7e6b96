// Starting other programs: a shell start, a process creation from a quoted command line, a creation
// that waits for the exit code, and a snapshot of the running processes by executable name.
// Synchronous free functions without state; any thread. Failures are a false or null result plus
// one log line; nothing throws.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace utility {
namespace process {

// Executable file name (as the snapshot reports it, compared case-sensitively) to process id.
// When several processes share a name, the first one met in the snapshot keeps the entry.
using ProcessNameMap = std::map<std::wstring, DWORD>;

// ShellExecuteW with the verb "runas" (when asked for and the system knows elevation) or "open";
// SW_SHOW or SW_HIDE. Does not wait. True when the shell accepted the start.
bool shell(const std::wstring& file, const std::wstring& parameters, bool runas, bool show);

// CreateProcessW of "file" plus, when given, one blank and the parameters unchanged; a new console.
// Returns the process handle, which the caller closes, or null. pidOut receives the process id.
HANDLE create(const std::wstring& file, const std::wstring& parameters, bool show, DWORD* pidOut = nullptr);

// create, then wait at most timeoutMs (0: do not wait, INFINITE: no limit). True when started with
// timeoutMs 0, or when the program ended in time with exit code 0. A program that outlives the
// time-out is left running.
bool execute(const std::wstring& file, const std::wstring& parameters, bool show, DWORD timeoutMs);

// Adds one entry per distinct executable name of the running processes; never clears the map.
void listProcessesByName(ProcessNameMap& processes);

// The command line create builds: the file in double quotes, then " " + parameters when not empty.
std::wstring buildCommandLine(const std::wstring& file, const std::wstring& parameters);

// "runas" only when it was asked for and the system is Vista or later; "open" otherwise.
const wchar_t* shellVerb(bool runas, bool vistaOrLater);

}  // namespace process
}  // namespace utility
