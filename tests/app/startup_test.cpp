#include <gtest/gtest.h>

#include <string>

#include "test_config.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

std::wstring downloaderExe() { return std::wstring(testconfig::kBinDir) + L"\\..\\downloader.exe"; }

std::wstring logFile() { return ts::appDataDir() + L"\\downloader\\downloader.log"; }

std::string logSince(size_t offset) {
  std::string text;
  ts::readFile(logFile(), text);
  return text.size() > offset ? text.substr(offset) : std::string();
}

}  // namespace

// One run of the program: the log gets two empty lines and the "wWinMain" start line, then the
// version line with 55 asterisks; WM_QUIT ends the loop and the process exits with 0.
TEST(Startup, WritesTheStartLinesAndExitsCleanly) {
  std::string before;
  ts::readFile(logFile(), before);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(ts::startProcess(downloaderExe(), L"", pi));
  const std::string version =
      "downloader start. version is : 3.0 *******************************************************\r\n";
  bool started = ts::pollUntil([&] { return logSince(before.size()).find(version) != std::string::npos; }, 30000);
  PostThreadMessageW(pi.dwThreadId, WM_QUIT, 0, 0);
  DWORD code = 1;
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_TRUE(started);
  EXPECT_EQ(code, 0u);

  std::string run = logSince(before.size());
  size_t start = run.find("\twWinMain\t(");
  ASSERT_NE(start, std::string::npos) << run;
  size_t colon = run.find("):", start);
  EXPECT_EQ(run.substr(colon + 2, 16), "\r\n\r\n start run\r\n");
  EXPECT_LT(start, run.find(version));
}
