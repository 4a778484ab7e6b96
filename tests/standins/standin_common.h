// What the stand-in emulator programs share: the raw command line, the control file and the
// journal. Header-only so each stand-in is one small source file and the tests can reach the
// parsers directly.
//
// Control file: `ORV_STANDIN_CONTROL`, else "standin_control.txt" next to the running exe. UTF-8
// lines of key=value; a key may carry a program prefix ("hivora.sleep_ms=5000"), which wins over
// the bare key for that program only.
// Journal: `ORV_STANDIN_JOURNAL`, else the control key "journal", else "standin_journal.txt" next
// to the running exe. One UTF-8 line per start: program, TAB, raw command line, TAB, pid.
#pragma once

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <map>
#include <string>

#include "common/text_codec.h"

namespace standin {

// The product's codec: the stand-ins link the same library as the program.
inline std::wstring fromUtf8(const std::string& text) { return utf8ToWide(text); }
inline std::string toUtf8(const std::wstring& text) { return wideToUtf8(text); }

inline bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

inline std::wstring trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && iswspace(text[begin])) ++begin;
  while (end > begin && iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The running exe's folder, ending with a backslash.
inline std::wstring moduleDir() {
  wchar_t buffer[32768] = {};
  DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(sizeof buffer / sizeof buffer[0]));
  std::wstring path(buffer, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring envVar(const wchar_t* name) {
  wchar_t buffer[32768] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(sizeof buffer / sizeof buffer[0]));
  return n > 0 && n < sizeof buffer / sizeof buffer[0] ? std::wstring(buffer, n) : std::wstring();
}

inline bool readBytes(const std::wstring& path, std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return true;
}

inline bool writeBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size());
  CloseHandle(h);
  return ok;
}

// The text after the program token with leading blanks skipped. The token ends at its closing
// quote when it starts with one, else at the first blank: the split Windows' start-up code makes.
inline std::wstring argumentsOf(const std::wstring& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring::npos ? commandLine.size() : close + 1;
  }
  while (i < commandLine.size() && !isBlank(commandLine[i])) ++i;
  while (i < commandLine.size() && isBlank(commandLine[i])) ++i;
  return commandLine.substr(i);
}

// Reads the value that starts at `pos`: up to the next quote when it opens with one (a backslash
// before that quote belongs to the value), else up to the next blank. Moves `pos` past it.
inline std::wstring takeValue(const std::wstring& text, size_t& pos) {
  if (pos < text.size() && text[pos] == L'"') {
    size_t close = text.find(L'"', pos + 1);
    if (close == std::wstring::npos) close = text.size();
    std::wstring value = text.substr(pos + 1, close - pos - 1);
    pos = close < text.size() ? close + 1 : close;
    return value;
  }
  size_t end = pos;
  while (end < text.size() && !isBlank(text[end])) ++end;
  std::wstring value = text.substr(pos, end - pos);
  pos = end;
  return value;
}

inline bool startsWithAt(const std::wstring& text, size_t pos, const wchar_t* prefix) {
  return text.compare(pos, wcslen(prefix), prefix) == 0;
}

// The value of `--name` in console-tool arguments ("--filename "a b.apk""), or false when absent.
inline bool optionValue(const std::wstring& arguments, const std::wstring& name, std::wstring& value) {
  size_t pos = 0;
  while (pos < arguments.size()) {
    while (pos < arguments.size() && isBlank(arguments[pos])) ++pos;
    std::wstring token = takeValue(arguments, pos);
    if (token == name) {
      while (pos < arguments.size() && isBlank(arguments[pos])) ++pos;
      if (pos >= arguments.size()) return false;
      value = takeValue(arguments, pos);
      return true;
    }
  }
  return false;
}

// What the downloader passes to the full installer:
//   -silence -downloader -openid=<id> [-language=<code>] -path="<folder>"
// The folder usually ends with a backslash right before the closing quote; argv rules would read
// that pair as an escaped quote, so the raw text is parsed instead.
struct InstallerArgs {
  bool silence = false;
  bool downloader = false;
  std::wstring openId;
  std::wstring language;
  std::wstring path;
};

// Parses the whole raw command line (program token included). False when no non-empty -path.
inline bool parseInstallerArgs(const std::wstring& commandLine, InstallerArgs& out) {
  out = InstallerArgs();
  std::wstring args = argumentsOf(commandLine);
  size_t pos = 0;
  while (pos < args.size()) {
    if (isBlank(args[pos])) {
      ++pos;
      continue;
    }
    if (startsWithAt(args, pos, L"-path=")) {
      pos += 6;
      out.path = takeValue(args, pos);
    } else if (startsWithAt(args, pos, L"-openid=")) {
      pos += 8;
      out.openId = takeValue(args, pos);
    } else if (startsWithAt(args, pos, L"-language=")) {
      pos += 10;
      out.language = takeValue(args, pos);
    } else {
      std::wstring token = takeValue(args, pos);
      if (token == L"-silence") out.silence = true;
      if (token == L"-downloader") out.downloader = true;
    }
  }
  return !out.path.empty();
}

struct Control {
  std::wstring path;  // where it was read from; empty when there was none
  std::string text;   // the file as read
  std::map<std::wstring, std::wstring> values;

  // "<program>.<key>" when present, else "<key>", else `fallback`.
  std::wstring get(const std::wstring& program, const std::wstring& key, const std::wstring& fallback = L"") const {
    auto it = values.find(program + L"." + key);
    if (it == values.end()) it = values.find(key);
    return it == values.end() ? fallback : it->second;
  }
  long getInt(const std::wstring& program, const std::wstring& key, long fallback) const {
    std::wstring text = get(program, key);
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    long value = wcstol(text.c_str(), &end, 10);
    return end && *end == L'\0' ? value : fallback;
  }
};

inline Control parseControl(const std::string& utf8) {
  Control control;
  std::string bytes = utf8;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::wstring text = fromUtf8(bytes);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = trim(text.substr(start, end - start));
    size_t eq = line.find(L'=');
    if (!line.empty() && line[0] != L'#' && eq != std::wstring::npos) {
      std::wstring key = trim(line.substr(0, eq));
      for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
      if (!key.empty()) control.values[key] = trim(line.substr(eq + 1));
    }
    start = end + 1;
  }
  return control;
}

inline std::wstring controlPath() {
  std::wstring path = envVar(L"ORV_STANDIN_CONTROL");
  return path.empty() ? moduleDir() + L"standin_control.txt" : path;
}

inline Control loadControl() {
  std::wstring path = controlPath();
  std::string bytes;
  if (!readBytes(path, bytes)) return Control();
  Control control = parseControl(bytes);
  control.path = path;
  control.text = bytes;
  return control;
}

inline std::wstring journalPath(const Control& control) {
  std::wstring path = envVar(L"ORV_STANDIN_JOURNAL");
  if (path.empty()) path = control.get(L"", L"journal");
  return path.empty() ? moduleDir() + L"standin_journal.txt" : path;
}

// One line in one write on an append-only handle, under an exclusive lock of one byte far past
// any content (so readers are never blocked): Wine's append is not atomic between processes, and
// without the lock lines of programs starting together overwrite each other. Another writer
// briefly holding the file without sharing is waited out.
inline bool appendJournal(const std::wstring& path, const std::wstring& program, const std::wstring& commandLine) {
  std::wstring flat = commandLine;
  for (wchar_t& c : flat)
    if (c == L'\r' || c == L'\n') c = L' ';
  std::string line = toUtf8(program + L"\t" + flat + L"\t" + std::to_wstring(GetCurrentProcessId())) + "\n";
  for (int attempt = 0; attempt < 200; ++attempt) {
    // Locking needs read or write access; append-only data access keeps every write at the end.
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
      Sleep(10);
      continue;
    }
    OVERLAPPED range{};
    range.OffsetHigh = 0x7FFFFFFF;
    bool locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != FALSE;
    DWORD written = 0;
    bool ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    if (locked) UnlockFileEx(h, 0, 1, 0, &range);
    CloseHandle(h);
    return ok;
  }
  return false;
}

// Every stand-in starts here: journal line first (so a test sees the start even when the program
// is told to sleep), then the control's sleep.
struct Start {
  std::wstring program;
  std::wstring commandLine;
  Control control;
  std::wstring journal;
};

inline Start begin(const wchar_t* program) {
  Start start;
  start.program = program;
  start.commandLine = GetCommandLineW();
  start.control = loadControl();
  start.journal = journalPath(start.control);
  appendJournal(start.journal, start.program, start.commandLine);
  long sleepMs = start.control.getInt(start.program, L"sleep_ms", 0);
  if (sleepMs > 0) Sleep(static_cast<DWORD>(sleepMs));
  return start;
}

}  // namespace standin
