// The process entry's fixed sequence: platform services, log, dispatcher, (model, skin, shell),
// the UI thread's message loop, and the shutdown steps. Runs on the first thread, which is and
// stays the UI thread. Every path returns exit code 0.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// Offered every message before it is translated and dispatched; true consumes it. The UI toolkit
// installs its keyboard and dialog navigation here.
using MessageFilter = bool (*)(MSG* msg);
void setMessageFilter(MessageFilter filter);

// "<roaming application data>\downloader\downloader.log"; creates the folder.
std::wstring prepareLogFile();

// Runs until WM_QUIT.
void runMessageLoop();

int runDownloader(HINSTANCE instance, const wchar_t* commandLine);

}  // namespace app
