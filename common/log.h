// The one logging entry point. Each call becomes one UTF-8 line of the per-user log file:
//   MM-DD<TAB>hh:mm:ss.mmm<TAB>tid<TAB>tag<TAB>(line):message<CR><LF>
// Callable from any thread at any time; never blocks on the disk (only while the writer thread
// holds its lock for a write) and never reports a failure to the caller.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace common {

// Formats with the wide printf format (Microsoft semantics: %s takes a wide string) into at most
// 8191 characters; a longer message is cut. Does nothing until installLogSink has run.
void log(const char* tag, int line, const wchar_t* format, ...);

// Start-up: first the sink (lines are formatted from then on), then the writer (lines reach the file).
void installLogSink();
// Creates the process's writer for the file; an empty path or a second call does nothing.
void startLogWriter(const std::wstring& path);
// Writes what is pending and ends the writer thread. Runs at process exit on its own as well, so
// the last lines of a run are never lost; lines logged afterwards are discarded.
void stopLogWriter();

// Prefix of one line, exactly "%02d-%02d\t%02d:%02d:%02d.%03d\t%04d\t%s\t(%d):". Returns its length.
int formatLogPrefix(char* out, size_t capacity, const SYSTEMTIME& time, unsigned long threadId,
                    const char* tag, int line);

// Moves finished lines to the log file from a thread of its own, at least every 500 ms or as soon
// as 10240 bytes are pending. While more than that is pending, new lines are dropped.
class LogWriter {
 public:
  static constexpr size_t kThreshold = 10240;
  static constexpr long long kMaxFileSize = 52428800;  // cut when reached...
  static constexpr long long kKeepOnCut = 2097152;     // ...back to the last 2 MiB

  // Tests pass runThread = false and drive the writes with writeOnceForTesting.
  explicit LogWriter(std::wstring path, bool runThread = true);
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Any thread: appends one finished line unless too much is pending already.
  void enqueue(const char* data, size_t size);
  // Writes what is pending, then ends the thread. Idempotent.
  void stop();
  size_t pendingSizeForTesting();
  // One pass of the writer thread's loop body: open the file if needed, write, cut.
  void writeOnceForTesting();

 private:
  void run();
  void openFile();
  void writePending();
  bool reopenEmpty();

  std::wstring path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;  // used by the writer thread only
  bool fileOpened_ = false;
  std::string pending_;
  std::atomic<size_t> pendingSize_{0};  // read without the lock by enqueue
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

// Builds one line in a fixed 10240-byte buffer: the prefix on construction, the message through
// append, the line end and the hand-over to the writer on destruction. A line that does not fit
// puts the stream into its failed state and is not handed over at all.
class LogStream {
 public:
  static constexpr size_t kCapacity = 10240;

  LogStream(const char* tag, int line);
  virtual ~LogStream();
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  LogStream& append(const char* data, size_t size);
  // Converts UTF-16 to UTF-8.
  LogStream& append(const wchar_t* text, size_t length);
  bool failed() const { return failed_; }

 private:
  char buffer_[kCapacity];
  size_t size_ = 0;
  bool failed_ = false;
};

}  // namespace common
