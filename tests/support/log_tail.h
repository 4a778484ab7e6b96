// The lines this test process writes to its log: the writer is started once, into a temp file.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// The file this test program's log writer writes; the first call starts the writer.
std::wstring processLogFile();

class LogTail {
 public:
  // Marks the current end of the log; later queries see only what follows.
  LogTail();
  // Number of lines of the tag whose message contains the text (compared as UTF-8).
  size_t count(const std::string& tag, const std::wstring& message) const;
  // Polls until such a line is there; the writer flushes at least every 500 ms.
  bool waitFor(const std::string& tag, const std::wstring& message, DWORD timeoutMs = 10000) const;
  // Writes a marker line and waits for it, so that every earlier line has reached the file.
  void sync() const;
  // Text since construction.
  std::string text() const;

 private:
  size_t start_;
};

}  // namespace testing_support
