// Shared by the test programs: bounded polls, unique names, files, helper processes and the
// UI-thread message pump.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "common/text_codec.h"

namespace testing_support {

// Polls the condition every 10 ms until it holds or the bound passes; the verdict of the last poll.
bool pollUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Runs this thread's messages (tasks, timers) until the condition holds or the bound passes.
bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// A name no other test or run uses: prefix + pid + counter + tick.
std::wstring uniqueName(const std::wstring& prefix);

// A new empty folder under the prefix's temp folder, ending with a backslash.
std::wstring makeTempDir(const std::wstring& prefix);

bool readFile(const std::wstring& path, std::string& bytes);
bool writeFile(const std::wstring& path, const std::string& bytes);

using ::utf8ToWide;  // the product's codec
using ::wideToUtf8;

// Full path of a program built beside the tests.
std::wstring testProgram(const std::wstring& exeName);

// Starts a program with the given raw command line (arguments after the program name).
// Fills the process information; false when it could not start.
bool startProcess(const std::wstring& exe, const std::wstring& args, PROCESS_INFORMATION& pi);
// Waits for a started program (ending it when the wait runs out), closes its handles and returns
// its exit code, or -1 when it had to be ended.
int waitForExit(PROCESS_INFORMATION& pi, DWORD timeoutMs = 60000);
// Runs a program to completion (bounded); returns its exit code or -1.
int runProcess(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs = 60000);

// The current user's roaming application-data folder.
std::wstring appDataDir();
// The current user's desktop folder.
std::wstring desktopDir();

}  // namespace testing_support
