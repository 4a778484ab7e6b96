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

// One run of a program copy: started, ended with WM_QUIT once its log shows `text` (or after
// 30 s), awaited. The log lines of the run and the exit code (-1 when it had to be ended).
struct ProgramRun {
  bool sawText = false;
  int exitCode = -1;
  std::string log;
};

ProgramRun runUntilLogged(const std::wstring& exe, const std::wstring& args, const std::string& text) {
  ProgramRun run;
  std::string before;
  ts::readFile(logFile(), before);
  PROCESS_INFORMATION pi{};
  if (!ts::startProcess(exe, args, pi)) return run;
  run.sawText = ts::pollUntil([&] { return logSince(before.size()).find(text) != std::string::npos; }, 30000);
  PostThreadMessageW(pi.dwThreadId, WM_QUIT, 0, 0);
  run.exitCode = ts::waitForExit(pi, 30000);
  run.log = logSince(before.size());
  return run;
}

}  // namespace

// One run of the program: the log gets two empty lines and the "wWinMain" start line, then the
// version line with 55 asterisks; WM_QUIT ends the loop and the process exits with 0.
TEST(Startup, WritesTheStartLinesAndExitsCleanly) {
  const std::string version =
      "downloader start. version is : 3.0 *******************************************************\r\n";
  ProgramRun result = runUntilLogged(downloaderExe(), L"", version);
  ASSERT_TRUE(result.sawText);
  EXPECT_EQ(result.exitCode, 0);

  std::string run = result.log;
  size_t start = run.find("\twWinMain\t(");
  ASSERT_NE(start, std::string::npos) << run;
  size_t colon = run.find("):", start);
  EXPECT_EQ(run.substr(colon + 2, 16), "\r\n\r\n start run\r\n");
  EXPECT_LT(start, run.find(version));
}

// The model is initialised between the start line and the version line, from the program's own
// file name and its command line; its URL thread takes the build's pinned pair.
TEST(Startup, InitialisesTheModelFromNameAndCommandLine) {
  std::wstring copy = ts::makeTempDir(L"campaign") + L"orvanta64_com.example.game_777_ad_7_x.exe";
  ASSERT_TRUE(CopyFileW(downloaderExe().c_str(), copy.c_str(), FALSE));
  ProgramRun result = runUntilLogged(copy, L"\"name=game|package=com.example.game|apkurl=http://127.0.0.1/g.apk\"",
                              "start get player url. definder url ");
  ASSERT_TRUE(result.sawText);
  EXPECT_NE(result.exitCode, -1);  // it ended within the wait

  std::string run = result.log;
  size_t at = run.find(" start run");
  for (const char* line : {"HVDownloaderModel::exe filename= orvanta64_com.example.game_777_ad_7_x",
                           "model. type: orvanta64, package:com.example.game, openID:777 baiduid ad_7",
                           "openid is 777, package is com.example.game",
                           "read from reg: path is ",
                           "cmdline is game, com.example.game, http://127.0.0.1/g.apk",
                           "downloader start. version is : 3.0"}) {
    size_t next = run.find(line, at);
    EXPECT_NE(next, std::string::npos) << line << "\n" << run;
    at = next == std::string::npos ? at : next;
  }
  EXPECT_NE(run.find("/dl/update/pc_tessaro_setup/qxinst_9.0.63.2.402038_0125.exe"), std::string::npos);
}
