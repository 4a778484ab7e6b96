#include "log_tail.h"

#include "common/log.h"
#include "test_support.h"

namespace testing_support {

std::wstring processLogFile() {
  static std::wstring path = [] {
    std::wstring p = makeTempDir(L"testlog") + L"test.log";
    common::installLogSink();
    common::startLogWriter(p);
    return p;
  }();
  return path;
}

namespace {

std::string readAll() {
  std::string text;
  readFile(processLogFile(), text);
  return text;
}

}  // namespace

LogTail::LogTail() { start_ = readAll().size(); }

std::string LogTail::text() const {
  std::string all = readAll();
  return all.size() > start_ ? all.substr(start_) : std::string();
}

size_t LogTail::count(const std::string& tag, const std::wstring& message) const {
  std::string wanted = wideToUtf8(message);
  std::string all = text();
  size_t n = 0;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(at, end - at);
    at = end + 1;
    size_t tagAt = line.find("\t" + tag + "\t(");
    if (tagAt == std::string::npos) continue;
    size_t colon = line.find("):", tagAt);
    if (colon != std::string::npos && line.find(wanted, colon) != std::string::npos) ++n;
  }
  return n;
}

bool LogTail::waitFor(const std::string& tag, const std::wstring& message, DWORD timeoutMs) const {
  return pollUntil([&] { return count(tag, message) > 0; }, timeoutMs);
}

void LogTail::sync() const {
  std::wstring marker = uniqueName(L"sync");
  common::log("testing_support::sync", __LINE__, L"%s", marker.c_str());
  waitFor("testing_support::sync", marker);
}

}  // namespace testing_support
