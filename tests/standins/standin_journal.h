// For tests: reading the stand-ins' journal and pointing the stand-ins this process starts (and
// their children) at a journal and a control file of the test's own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_common.h"

namespace standin {

struct JournalEntry {
  std::wstring program;      // "installer", "hivora", "gormandel" or "hvconsole"
  std::wstring commandLine;  // raw, as the program received it
  std::wstring arguments;    // the command line without the program token
  DWORD pid = 0;
};

// Complete lines only: a last line without its line feed is still being written and is left for
// the next read. The command line may itself hold tabs, so the fields are cut at the first and
// the last tab.
inline std::vector<JournalEntry> parseJournal(const std::string& utf8) {
  std::vector<JournalEntry> entries;
  size_t start = 0;
  for (;;) {
    size_t end = utf8.find('\n', start);
    if (end == std::string::npos) break;
    std::wstring line = fromUtf8(utf8.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    size_t first = line.find(L'\t'), last = line.rfind(L'\t');
    if (first == std::wstring::npos || first == last) continue;
    JournalEntry entry;
    entry.program = line.substr(0, first);
    entry.commandLine = line.substr(first + 1, last - first - 1);
    entry.arguments = argumentsOf(entry.commandLine);
    entry.pid = static_cast<DWORD>(wcstoul(line.c_str() + last + 1, nullptr, 10));
    entries.push_back(entry);
  }
  return entries;
}

// Entries of one program (all of them when `program` is empty), in the order they were written;
// none when the journal does not exist yet.
inline std::vector<JournalEntry> readJournal(const std::wstring& path, const std::wstring& program = L"") {
  std::string bytes;
  if (!readBytes(path, bytes)) return {};
  std::vector<JournalEntry> entries = parseJournal(bytes);
  if (program.empty()) return entries;
  std::vector<JournalEntry> matching;
  for (const JournalEntry& entry : entries)
    if (entry.program == program) matching.push_back(entry);
  return matching;
}

// Sets ORV_STANDIN_JOURNAL and ORV_STANDIN_CONTROL of this process to "standin_journal.txt" and
// "standin_control.txt" in `folder` (which must exist, ending with a backslash) for its lifetime;
// child processes inherit them. The journal starts empty and there is no control until
// setControl.
class StandinEnvironment {
 public:
  explicit StandinEnvironment(const std::wstring& folder)
      : journal_(folder + L"standin_journal.txt"), control_(folder + L"standin_control.txt") {
    DeleteFileW(journal_.c_str());
    DeleteFileW(control_.c_str());
    savedJournal_ = save(L"ORV_STANDIN_JOURNAL", hadJournal_);
    savedControl_ = save(L"ORV_STANDIN_CONTROL", hadControl_);
    SetEnvironmentVariableW(L"ORV_STANDIN_JOURNAL", journal_.c_str());
    SetEnvironmentVariableW(L"ORV_STANDIN_CONTROL", control_.c_str());
  }
  ~StandinEnvironment() {
    SetEnvironmentVariableW(L"ORV_STANDIN_JOURNAL", hadJournal_ ? savedJournal_.c_str() : nullptr);
    SetEnvironmentVariableW(L"ORV_STANDIN_CONTROL", hadControl_ ? savedControl_.c_str() : nullptr);
  }
  StandinEnvironment(const StandinEnvironment&) = delete;
  StandinEnvironment& operator=(const StandinEnvironment&) = delete;

  // key=value lines, for example L"installer.sleep_ms=600000\nhivora.exit_code=3".
  bool setControl(const std::wstring& text) { return writeBytes(control_, toUtf8(text)); }
  std::vector<JournalEntry> entries(const std::wstring& program = L"") const { return readJournal(journal_, program); }
  const std::wstring& journalPath() const { return journal_; }
  const std::wstring& controlPath() const { return control_; }

 private:
  // An empty value counts as unset, as it does for the stand-ins.
  static std::wstring save(const wchar_t* name, bool& had) {
    std::wstring value = envVar(name);
    had = !value.empty();
    return value;
  }

  std::wstring journal_, control_;
  std::wstring savedJournal_, savedControl_;
  bool hadJournal_ = false, hadControl_ = false;
};

// InstallDir under an edition's key (HKCU).
inline bool readInstallDir(const std::wstring& key, std::wstring& value) {
  wchar_t buffer[2048] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"InstallDir", RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return false;
  value = buffer;
  return true;
}

// Clears InstallDir under the key for the test and puts back what was there before.
class InstallDirGuard {
 public:
  explicit InstallDirGuard(const std::wstring& key) : key_(key) {
    had_ = readInstallDir(key_, saved_);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"InstallDir");
  }
  ~InstallDirGuard() {
    if (!had_) {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"InstallDir");
      return;
    }
    RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"InstallDir", REG_SZ, saved_.c_str(),
                    static_cast<DWORD>((saved_.size() + 1) * sizeof(wchar_t)));
  }

 private:
  std::wstring key_, saved_;
  bool had_ = false;
};

}  // namespace standin
