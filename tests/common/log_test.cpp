#include "common/log.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace ts = testing_support;

namespace {

std::string fileText(const std::wstring& path) {
  std::string text;
  ts::readFile(path, text);
  return text;
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The process-wide writer used by common::log, started once for this test program.
std::wstring processLogFile() {
  static std::wstring path = [] {
    std::wstring p = ts::makeTempDir(L"log") + L"process.log";
    common::installLogSink();
    common::startLogWriter(p);
    return p;
  }();
  return path;
}

}  // namespace

// The prefix is exactly the narrow printf form; short thread ids are zero-padded to four digits,
// long ones written in full.
TEST(LogPrefix, MatchesTheFixedFormat) {
  SYSTEMTIME t{};
  t.wMonth = 12;
  t.wDay = 9;
  t.wHour = 7;
  t.wMinute = 5;
  t.wSecond = 3;
  t.wMilliseconds = 42;
  char buffer[256];
  struct Case {
    unsigned long tid;
    const char* expected;
  } cases[] = {
      {123, "12-09\t07:05:03.042\t0123\tHVDownloaderModel::init\t(63):"},
      {45678, "12-09\t07:05:03.042\t45678\tHVDownloaderModel::init\t(63):"},
  };
  for (const Case& c : cases) {
    int n = common::formatLogPrefix(buffer, sizeof buffer, t, c.tid, "HVDownloaderModel::init", 63);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), c.expected);
  }
}

// Chinese text arrives as UTF-8, a literal "%s" in an argument is not formatted again, and the
// line carries this thread's id, the tag and the line number.
TEST(Log, WritesUtf8AndKeepsLiteralPercent) {
  std::wstring file = processLogFile();
  common::log("LogTest::utf8", 77, L"path %s done", L"C:\\a%sb\\正在下载");
  ASSERT_TRUE(ts::pollUntil([&] { return fileText(file).find("LogTest::utf8") != std::string::npos; }, 5000));
  std::string text = fileText(file);
  char tid[32];
  snprintf(tid, sizeof tid, "\t%04lu\t", GetCurrentThreadId());
  std::string expected = std::string(tid) + "LogTest::utf8\t(77):path C:\\a%sb\\\xE6\xAD\xA3\xE5\x9C\xA8\xE4\xB8\x8B\xE8\xBD\xBD done\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

// A message longer than the 8191-character format buffer is cut, not dropped.
TEST(Log, LongMessageIsCut) {
  std::wstring file = processLogFile();
  std::wstring longText(9000, L'x');
  common::log("LogTest::long", 1, L"%s", longText.c_str());
  ASSERT_TRUE(ts::pollUntil([&] { return fileText(file).find("LogTest::long") != std::string::npos; }, 5000));
  std::string text = fileText(file);
  size_t at = text.find("LogTest::long\t(1):");
  size_t end = text.find("\r\n", at);
  EXPECT_EQ(end - (at + 18), 8191u);
}

// A line that does not fit the 10240-byte stream is not written at all.
TEST(LogStream, OverlongLineFails) {
  common::LogStream stream("LogTest::overlong", 1);
  std::string big(common::LogStream::kCapacity, 'y');
  stream.append(big.data(), big.size());
  EXPECT_TRUE(stream.failed());
}
