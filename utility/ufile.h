// Small file and folder operations over the wide Win32 calls. Synchronous, no shared state, any
// thread. Failures are reported by the result; makeDir, moveFile and removeFile also log them.
#pragma once

#include <windows.h>

#include <string>

namespace utility {
namespace ufile {

// True when the folder was created (with missing parents) or already existed.
bool makeDir(const std::wstring& path);
bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags);
bool removeFile(const std::wstring& path);
bool getFileSize(const std::wstring& path, unsigned long long& size);
bool fileExists(const std::wstring& path);
// Last component after the last backslash (else slash); empty without a separator. The extension
// (from the last '.') is cut unless keepExtension.
std::wstring getFileName(const std::wstring& path, bool keepExtension);
// Up to and including the last separator, after dropping one trailing separator.
std::wstring getParentDir(const std::wstring& path);
// Folder of the running program, ending with a backslash.
std::wstring getModuleDir();
// The user's roaming application-data folder, empty when unknown.
std::wstring getAppDataDir();

}  // namespace ufile
}  // namespace utility
