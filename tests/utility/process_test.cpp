#include "utility/process.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "log_tail.h"
#include "test_support.h"

namespace ts = testing_support;
namespace up = utility::process;
using testing_support::LogTail;

namespace {

const char kCreate[] = "utility::process::create";
const char kExecute[] = "utility::process::execute";
const char kShell[] = "utility::process::shell";

std::wstring probe() { return ts::testProgram(L"proc_probe.exe"); }

// What a probe wrote with --record: its process id and its command line.
struct Record {
  DWORD pid = 0;
  std::wstring commandLine;
};

bool waitForRecord(const std::wstring& path, Record& out, DWORD timeoutMs = 15000) {
  std::string bytes;
  if (!ts::pollUntil([&] { return ts::readFile(path, bytes); }, timeoutMs)) return false;
  size_t newline = bytes.find('\n');
  if (newline == std::string::npos) return false;
  out.pid = static_cast<DWORD>(std::stoul(bytes.substr(0, newline)));
  out.commandLine = ts::utf8ToWide(bytes.substr(newline + 1));
  return true;
}

// Sets ORV_PROBE_RECORD for the probes this process starts while the object lives.
class RecordTo {
 public:
  explicit RecordTo(const std::wstring& path) { SetEnvironmentVariableW(L"ORV_PROBE_RECORD", path.c_str()); }
  ~RecordTo() { SetEnvironmentVariableW(L"ORV_PROBE_RECORD", nullptr); }
};

bool isRunning(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// Probes that wait for this object's event. When the object goes they are released and exit on
// their own; only one that does not is ended by force. (Under Wine, ending a console child from
// outside soon after its start can leave its conhost.exe behind, holding the test's output open.)
class HeldProbes {
 public:
  HeldProbes() : name_(ts::uniqueName(L"probe_release")) { event_ = CreateEventW(nullptr, TRUE, FALSE, name_.c_str()); }
  ~HeldProbes() {
    SetEvent(event_);
    for (HANDLE process : processes_) {
      if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
      CloseHandle(process);
    }
    CloseHandle(event_);
  }
  HeldProbes(const HeldProbes&) = delete;
  HeldProbes& operator=(const HeldProbes&) = delete;

  // Arguments that make a probe record itself into recordPath and wait for the release.
  std::wstring args(const std::wstring& recordPath) const {
    return L"--record \"" + recordPath + L"\" --wait " + name_;
  }
  // Starts exe with create and returns its id once it runs (has recorded itself); 0 on failure.
  DWORD start(const std::wstring& exe) {
    std::wstring recordPath = ts::makeTempDir(L"held") + L"record.txt";
    DWORD pid = 0;
    HANDLE process = up::create(exe, args(recordPath), false, &pid);
    if (!process) return 0;
    processes_.push_back(process);
    Record record;
    return waitForRecord(recordPath, record) ? pid : 0;
  }
  // Takes a probe started elsewhere into the object's care.
  void adopt(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    if (process) processes_.push_back(process);
  }

 private:
  std::wstring name_;
  HANDLE event_;
  std::vector<HANDLE> processes_;
};

// Process ids of a name in the order a fresh snapshot lists them.
std::vector<DWORD> snapshotPids(const std::wstring& exeName) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (exeName == entry.szExeFile) pids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return pids;
}

// A copy of the probe under a name no other test uses, with upper-case letters in it.
std::wstring probeCopy(std::wstring& exeName) {
  exeName = ts::uniqueName(L"ProbeCopy") + L".exe";
  std::wstring path = ts::makeTempDir(L"probes") + exeName;
  CopyFileW(probe().c_str(), path.c_str(), FALSE);
  return path;
}

}  // namespace

// create builds the command line as the quoted file plus " " + parameters unchanged, and exactly
// the quoted file when there are no parameters; it returns the handle and the child's id.
TEST(ProcessTest, CreatePassesQuotedFileAndParameters) {
  const wchar_t* parameters[] = {L"", L"--exit 0  two\tblanks \"quoted arg\" \\\\x"};
  for (const wchar_t* params : parameters) {
    LogTail log;
    std::wstring recordPath = ts::makeTempDir(L"create") + L"record.txt";
    RecordTo env(recordPath);
    DWORD pid = 0;
    HANDLE process = up::create(probe(), params, false, &pid);
    ASSERT_NE(process, nullptr) << params;
    EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
    CloseHandle(process);

    Record record;
    ASSERT_TRUE(waitForRecord(recordPath, record)) << params;
    EXPECT_EQ(record.pid, pid);
    std::wstring expected = L"\"" + probe() + L"\"" + (*params ? std::wstring(L" ") + params : std::wstring());
    EXPECT_EQ(record.commandLine, expected);
    EXPECT_EQ(up::buildCommandLine(probe(), params), expected);
    EXPECT_TRUE(log.waitFor(kCreate, L"createProcess filename = [" + probe() + L"], param = [" + params +
                                         L"], show = 0"));
  }
}

// execute: time-out 0 is success once started, whatever the exit code; otherwise only exit code 0
// within the time-out succeeds, and the exit code is logged.
TEST(ProcessTest, ExecuteJudgesExitCodes) {
  struct Case {
    const wchar_t* params;
    DWORD timeout;
    bool expected;
    const wchar_t* logged;  // expected exit-code line, or null when none is written
  } cases[] = {
      {L"--exit 3", 0, true, nullptr},
      {L"--exit 0", 30000, true, L"execute exitcode = 0 lastError = "},
      {L"--exit 1", 30000, false, L"execute exitcode = 1 lastError = "},
      {L"--exit 0", INFINITE, true, L"execute exitcode = 0 lastError = "},
  };
  for (const Case& c : cases) {
    LogTail log;
    std::wstring recordPath = ts::makeTempDir(L"execute") + L"record.txt";
    RecordTo env(recordPath);
    EXPECT_EQ(up::execute(probe(), c.params, false, c.timeout), c.expected) << c.params << " " << c.timeout;
    Record record;
    EXPECT_TRUE(waitForRecord(recordPath, record)) << "the program did not run";
    if (c.logged) {
      EXPECT_TRUE(log.waitFor(kExecute, c.logged)) << c.params;
    } else {
      log.sync();
      EXPECT_EQ(log.count(kExecute, L"execute exitcode"), 0u);
    }
  }
}

// A program that outlives the time-out: false, "execute timeout!!!", and the program still runs.
TEST(ProcessTest, ExecuteTimeoutLeavesProgramRunning) {
  LogTail log;
  HeldProbes held;
  std::wstring recordPath = ts::makeTempDir(L"timeout") + L"record.txt";
  EXPECT_FALSE(up::execute(probe(), held.args(recordPath), false, 300));
  EXPECT_TRUE(log.waitFor(kExecute, L"execute timeout!!!"));
  Record record;
  ASSERT_TRUE(waitForRecord(recordPath, record));
  held.adopt(record.pid);
  EXPECT_TRUE(isRunning(record.pid));
}

// A missing program: create logs its failure with the system error, execute adds its own line,
// and the result is false.
TEST(ProcessTest, ExecuteMissingFileFails) {
  LogTail log;
  std::wstring missing = ts::makeTempDir(L"missing") + L"absent.exe";
  EXPECT_FALSE(up::execute(missing, L"--exit 0", false, 1000));
  EXPECT_EQ(up::create(missing, L"", false), nullptr);
  EXPECT_TRUE(log.waitFor(kCreate, L"createProcess failed!!! lastError = 2"));
  EXPECT_TRUE(log.waitFor(kExecute, L"execute failed!!! last error = "));
}

// shell starts the program with the parameters, with and without the elevation verb, and logs the
// request and the "ret" line but no failure.
TEST(ProcessTest, ShellStartsProgram) {
  for (bool runas : {false, true}) {
    LogTail log;
    std::wstring recordPath = ts::makeTempDir(L"shell") + L"record.txt";
    std::wstring params = L"--record \"" + recordPath + L"\" --exit 0";
    EXPECT_TRUE(up::shell(probe(), params, runas, false)) << runas;
    Record record;
    ASSERT_TRUE(waitForRecord(recordPath, record)) << runas;
    EXPECT_NE(record.commandLine.find(params), std::wstring::npos) << record.commandLine;
    EXPECT_TRUE(log.waitFor(kShell, L"shell filename = [" + probe() + L"], param = [" + params + L"], runas = " +
                                        (runas ? L"1" : L"0") + L", show = 0"));
    EXPECT_TRUE(log.waitFor(kShell, L"shellEx ret . lastError = "));
    EXPECT_EQ(log.count(kShell, L"shellEx failed!!!"), 0u);
  }
}

// shell of a missing file: false, with both the "ret" and the "failed" line.
TEST(ProcessTest, ShellMissingFileFails) {
  LogTail log;
  EXPECT_FALSE(up::shell(ts::makeTempDir(L"missing") + L"absent.exe", L"", true, true));
  EXPECT_TRUE(log.waitFor(kShell, L"shellEx ret . lastError = "));
  EXPECT_TRUE(log.waitFor(kShell, L"shellEx failed!!! lastError = "));
}

// The elevation verb is used only when asked for on Vista or later; older systems get "open".
TEST(ProcessTest, ShellVerb) {
  EXPECT_STREQ(up::shellVerb(true, true), L"runas");
  EXPECT_STREQ(up::shellVerb(true, false), L"open");
  EXPECT_STREQ(up::shellVerb(false, true), L"open");
  EXPECT_STREQ(up::shellVerb(false, false), L"open");
}

// Two running processes of one name give one entry holding the id met first in the snapshot; the
// name keeps its case and is matched exactly; entries already in the map stay.
TEST(ProcessTest, ListProcessesByNameKeepsFirstOfaName) {
  std::wstring exeName;
  std::wstring path = probeCopy(exeName);
  HeldProbes held;
  std::vector<DWORD> pids;
  for (int i = 0; i < 2; ++i) {
    pids.push_back(held.start(path));
    ASSERT_NE(pids.back(), 0u);
  }
  ASSERT_EQ(snapshotPids(exeName).size(), 2u);

  up::ProcessNameMap processes{{L"already-there.exe", 7}};
  up::listProcessesByName(processes);
  std::vector<DWORD> order = snapshotPids(exeName);
  ASSERT_EQ(processes.count(exeName), 1u);
  EXPECT_EQ(processes[exeName], order.front());
  EXPECT_NE(std::find(pids.begin(), pids.end(), processes[exeName]), pids.end());
  std::wstring lower = exeName;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_EQ(processes.count(lower), 0u);
  EXPECT_EQ(processes[L"already-there.exe"], 7u);
}

// Ending emulator processes by name through the system's task killer. "/F /IM name" ends every
// process of the name. The program adds " /T", which Wine's taskkill does not support (it fails
// and the process survives); what stays checkable there is the command that ran and that it
// finished within the wait.
TEST(ProcessTest, TaskkillByName) {
  std::wstring exeName;
  std::wstring path = probeCopy(exeName);
  HeldProbes held;
  auto startTwo = [&] {
    for (int i = 0; i < 2; ++i) ASSERT_NE(held.start(path), 0u);
    ASSERT_EQ(snapshotPids(exeName).size(), 2u);
  };

  ASSERT_NO_FATAL_FAILURE(startTwo());
  EXPECT_TRUE(up::execute(L"taskkill", L"/F /IM " + exeName, false, 30000));
  EXPECT_TRUE(ts::pollUntil([&] { return snapshotPids(exeName).empty(); }));

  ASSERT_NO_FATAL_FAILURE(startTwo());
  LogTail log;
  std::wstring params = L"/F /IM " + exeName + L" /T";
  up::execute(L"taskkill", params, false, 30000);
  EXPECT_TRUE(log.waitFor(kCreate, L"createProcess filename = [taskkill], param = [" + params + L"], show = 0"));
  EXPECT_TRUE(log.waitFor(kExecute, L"execute exitcode = "));
}
