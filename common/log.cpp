#include "common/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace common {
namespace {

constexpr size_t kMessageChars = 8192;

bool g_sinkInstalled = false;
LogWriter* g_writer = nullptr;  // created once, stopped at exit, never deleted (threads may log late)
std::once_flag g_writerOnce;

bool writeAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

long long fileSize(HANDLE h) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(h, &size) ? size.QuadPart : -1;
}

void stopAtExit() { stopLogWriter(); }

}  // namespace

int formatLogPrefix(char* out, size_t capacity, const SYSTEMTIME& t, unsigned long threadId, const char* tag,
                    int line) {
  int n = std::snprintf(out, capacity, "%02d-%02d\t%02d:%02d:%02d.%03d\t%04lu\t%s\t(%d):", t.wMonth, t.wDay,
                        t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, threadId, tag ? tag : "", line);
  if (n < 0) return 0;
  return static_cast<size_t>(n) >= capacity ? static_cast<int>(capacity) - 1 : n;
}

// ---- LogStream ----

LogStream::LogStream(const char* tag, int line) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  int n = formatLogPrefix(buffer_, kCapacity, now, GetCurrentThreadId(), tag, line);
  if (static_cast<size_t>(n) >= kCapacity - 1) failed_ = true;
  size_ = static_cast<size_t>(n);
}

LogStream::~LogStream() {
  append("\r\n", 2);
  if (!failed_ && g_writer) g_writer->enqueue(buffer_, size_);
}

LogStream& LogStream::append(const char* data, size_t size) {
  if (failed_) return *this;
  if (size > kCapacity - size_) {
    failed_ = true;
    return *this;
  }
  memcpy(buffer_ + size_, data, size);
  size_ += size;
  return *this;
}

LogStream& LogStream::append(const wchar_t* text, size_t length) {
  if (failed_ || length == 0) return *this;
  int room = static_cast<int>(kCapacity - size_);
  int n = room > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), buffer_ + size_, room,
                                         nullptr, nullptr)
                   : 0;
  if (n <= 0) {
    failed_ = true;  // does not fit: the line is not written at all
    return *this;
  }
  size_ += static_cast<size_t>(n);
  return *this;
}

// ---- LogWriter ----

LogWriter::LogWriter(std::wstring path, bool runThread) : path_(std::move(path)) {
  if (runThread) thread_ = std::thread(&LogWriter::run, this);
}

LogWriter::~LogWriter() {
  stop();
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void LogWriter::enqueue(const char* data, size_t size) {
  // Unlocked soft limit: while the disk lags, lines are dropped rather than memory growing.
  if (pendingSize_.load(std::memory_order_relaxed) > kThreshold) return;
  bool wake;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return;
    pending_.append(data, size);
    pendingSize_.store(pending_.size(), std::memory_order_relaxed);
    wake = pending_.size() >= kThreshold;
  }
  if (wake) wake_.notify_one();
}

void LogWriter::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

size_t LogWriter::pendingSizeForTesting() {
  std::lock_guard<std::mutex> guard(lock_);
  return pending_.size();
}

void LogWriter::writeOnceForTesting() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!fileOpened_) openFile();
  writePending();
}

bool LogWriter::reopenEmpty() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

void LogWriter::openFile() {
  fileOpened_ = true;
  file_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return;
  unsigned char bom[2] = {};
  DWORD got = 0;
  // A UTF-16 byte-order mark was left by an older writer: start the file afresh.
  if (ReadFile(file_, bom, 2, &got, nullptr) && got == 2 && bom[0] == 0xFF && bom[1] == 0xFE) reopenEmpty();
}

void LogWriter::writePending() {
  if (pending_.empty()) return;
  bool ok = file_ != INVALID_HANDLE_VALUE;
  if (ok) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(file_, zero, nullptr, FILE_END);
    writeAll(file_, pending_.data(), pending_.size());
  }
  pending_.clear();
  pendingSize_.store(0, std::memory_order_relaxed);
  if (!ok) return;
  long long size = fileSize(file_);
  if (size < kMaxFileSize) return;
  // Keep the last 2 MiB, cut at that byte whatever it splits.
  std::vector<char> tail(static_cast<size_t>(kKeepOnCut));
  LARGE_INTEGER from;
  from.QuadPart = size - kKeepOnCut;
  DWORD got = 0;
  if (!SetFilePointerEx(file_, from, nullptr, FILE_BEGIN) ||
      !ReadFile(file_, tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr))
    return;
  if (reopenEmpty()) writeAll(file_, tail.data(), got);
}

void LogWriter::run() {
  std::unique_lock<std::mutex> guard(lock_);
  openFile();
  for (;;) {
    wake_.wait_for(guard, std::chrono::milliseconds(500),
                   [this] { return stopping_ || pending_.size() >= kThreshold; });
    writePending();
    if (stopping_) return;
  }
}

// ---- entry points ----

void installLogSink() { g_sinkInstalled = true; }

void startLogWriter(const std::wstring& path) {
  if (path.empty()) return;
  std::call_once(g_writerOnce, [&] {
    g_writer = new LogWriter(path);
    std::atexit(stopAtExit);
  });
}

void stopLogWriter() {
  if (g_writer) g_writer->stop();
}

void log(const char* tag, int line, const wchar_t* format, ...) {
  if (!g_sinkInstalled) return;
  wchar_t message[kMessageChars];
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(message, kMessageChars - 1, format, args);
  va_end(args);
  message[kMessageChars - 1] = L'\0';
  size_t length = n < 0 ? wcslen(message) : static_cast<size_t>(n);
  LogStream stream(tag, line);
  stream.append(message, length);
}

}  // namespace common
