#include "common/log.h"

#include <gtest/gtest.h>

#include <string>

#include "log_tail.h"
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
using testing_support::processLogFile;

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

// Lines are appended after what earlier runs wrote; a file left with a UTF-16 byte-order mark is
// emptied first.
TEST(LogWriter, AppendsOrEmptiesAByteOrderMarkedFile) {
  std::wstring dir = ts::makeTempDir(L"logwriter");
  struct Case {
    std::string before;
    std::string after;
  } cases[] = {
      {"old run\r\n", "old run\r\nnew\r\n"},
      {std::string("\xFF\xFE" "o\0l\0d\0", 8), "new\r\n"},
      {"\xFF only one", "\xFF only one" "new\r\n"},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::wstring file = dir + std::to_wstring(i++) + L".log";
    ASSERT_TRUE(ts::writeFile(file, c.before));
    common::LogWriter writer(file, false);
    writer.enqueue("new\r\n", 5);
    writer.writeOnceForTesting();
    EXPECT_EQ(fileText(file), c.after);
  }
}

// While more than 10240 bytes are pending a new line is dropped; after the write lines are
// accepted again.
TEST(LogWriter, DropsLinesWhileTooMuchIsPending) {
  std::wstring file = ts::makeTempDir(L"logdrop") + L"drop.log";
  common::LogWriter writer(file, false);
  std::string line(999, 'a');
  line += "\n";
  for (int i = 0; i < 11; ++i) writer.enqueue(line.data(), line.size());
  EXPECT_EQ(writer.pendingSizeForTesting(), 11000u);
  writer.enqueue("dropped\n", 8);
  EXPECT_EQ(writer.pendingSizeForTesting(), 11000u);
  writer.writeOnceForTesting();
  EXPECT_EQ(writer.pendingSizeForTesting(), 0u);
  writer.enqueue("kept\n", 5);
  writer.writeOnceForTesting();
  std::string text = fileText(file);
  EXPECT_EQ(text.size(), 11005u);
  EXPECT_EQ(countOf(text, "dropped"), 0u);
  EXPECT_EQ(text.substr(11000), "kept\n");
}

// Reaching 50 MiB cuts the file to its last 2 MiB and writing goes on after them; growing to
// 50 MiB again cuts again the same way.
TEST(LogWriter, CutsToTheLastTwoMebibytes) {
  std::wstring file = ts::makeTempDir(L"logcut") + L"cut.log";
  const size_t limit = static_cast<size_t>(common::LogWriter::kMaxFileSize);
  const size_t keep = static_cast<size_t>(common::LogWriter::kKeepOnCut);
  std::string big(limit - 10, 'x');
  for (size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
  ASSERT_TRUE(ts::writeFile(file, big));
  common::LogWriter writer(file, true);
  std::string line = "0123456789ABCDEF\r\n";
  writer.enqueue(line.data(), line.size());
  std::string expected = (big + line).substr(big.size() + line.size() - keep);
  // Poll for the whole result: the cut empties the file for a moment before writing it back.
  EXPECT_TRUE(ts::pollUntil([&] { return fileText(file) == expected; }, 10000));

  writer.enqueue("after\r\n", 7);
  ASSERT_TRUE(ts::pollUntil([&] { return fileText(file) == expected + "after\r\n"; }, 5000));

  // Grow it from outside (the file is shared for writing) to just under the limit, then log.
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string filler(limit - (expected.size() + 7) - 5, 'y');
  DWORD written = 0;
  WriteFile(h, filler.data(), static_cast<DWORD>(filler.size()), &written, nullptr);
  CloseHandle(h);
  std::string all = expected + "after\r\n" + filler;
  writer.enqueue(line.data(), line.size());
  std::string expected2 = (all + line).substr(all.size() + line.size() - keep);
  EXPECT_TRUE(ts::pollUntil([&] { return fileText(file) == expected2; }, 10000));
}

// Ten lines of 1000 bytes (below the 10240-byte wake) still reach the file on the 500 ms tick.
TEST(LogWriter, WritesSmallBatchesOnTheTick) {
  std::wstring file = ts::makeTempDir(L"logtick") + L"tick.log";
  common::LogWriter writer(file, true);
  std::string line(998, 'b');
  line += "\r\n";
  for (int i = 0; i < 10; ++i) writer.enqueue(line.data(), line.size());
  EXPECT_TRUE(ts::pollUntil([&] { return fileText(file).size() == 10000; }, 3000));
}

// A program that logs and returns from main at once still has every line in its file.
TEST(Log, NothingLostAtProcessEnd) {
  std::wstring file = ts::makeTempDir(L"logexit") + L"exit.log";
  ASSERT_EQ(ts::runProcess(ts::testProgram(L"log_probe.exe"), L"\"" + file + L"\" 50"), 0);
  std::string text = fileText(file);
  EXPECT_EQ(countOf(text, "exit line "), 50u);
  EXPECT_NE(text.find("exit line 49\r\n"), std::string::npos);
}
