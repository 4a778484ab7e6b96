#include "utility/usystem.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <set>

#include "test_support.h"

namespace ts = testing_support;
namespace us = utility::usystem;

namespace {

bool isTopmost(HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// Position in the top-level Z order, 0 being the top; -1 when not found.
int zIndex(HWND window) {
  int index = 0;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT), ++index) {
    if (w == window) return index;
  }
  return -1;
}

// A plain visible popup of a registered test class; destroyed with the object.
class TestWindow {
 public:
  TestWindow(DWORD exStyle, DWORD style) {
    static ATOM atom = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"UsystemTestWindow";
      return RegisterClassW(&wc);
    }();
    (void)atom;
    window_ = CreateWindowExW(exStyle, L"UsystemTestWindow", L"t", style, 100, 100, 200, 150, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  ~TestWindow() { DestroyWindow(window_); }
  HWND get() const { return window_; }

 private:
  HWND window_;
};

// Ids of the running processes of an executable name (compared without regard to case).
std::set<DWORD> processIds(const wchar_t* exeName) {
  std::set<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exeName) == 0) pids.insert(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return pids;
}

void pump() {
  ts::pumpUntil([] { return false; }, 50);
}

}  // namespace

// GUID text: the fixed format with the third group in lower case; new GUIDs are 36 characters
// with underscores at 9, 14, 19, 24 (from 1), upper-case hex except characters 15 to 18, and differ.
TEST(UsystemTest, GuidText) {
  GUID fixed = {0xABCDEF01, 0xABCD, 0xBEEF, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  EXPECT_EQ(us::formatGuidString(fixed), L"ABCDEF01_ABCD_beef_ABCD_EF0123456789");
  GUID small = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0x4}};
  EXPECT_EQ(us::formatGuidString(small), L"00000001_0002_0003_0000_000000000004");

  std::wstring first = us::createGuidString();
  std::wstring second = us::createGuidString();
  EXPECT_NE(first, second);
  ASSERT_EQ(first.size(), 36u) << first;
  for (size_t i = 0; i < first.size(); ++i) {
    wchar_t c = first[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(c, L'_') << i;
    } else if (i >= 14 && i <= 17) {
      EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')) << first;
    } else {
      EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F')) << first;
    }
  }
}

// The test platform reports a version of 6 or more and a 64-bit processor; the architecture rule
// counts AMD64 and IA64 only.
TEST(UsystemTest, VersionAndArchitecture) {
  EXPECT_TRUE(us::isVistaOrLater());
  EXPECT_TRUE(us::is64BitSystem());
  struct Case {
    WORD architecture;
    bool is64;
  } cases[] = {{PROCESSOR_ARCHITECTURE_AMD64, true}, {PROCESSOR_ARCHITECTURE_IA64, true},
               {PROCESSOR_ARCHITECTURE_INTEL, false}, {PROCESSOR_ARCHITECTURE_ARM, false},
               {12 /* ARM64 */, false}};
  for (const Case& c : cases) EXPECT_EQ(us::isArchitecture64(c.architecture), c.is64) << c.architecture;
}

// While this process holds the mutex, another process gets null when refusing an existing one and
// a handle when not; once released, the refusing call gets a handle again.
TEST(UsystemTest, NamedMutexAcrossProcesses) {
  std::wstring name = ts::uniqueName(L"UsystemMutex");
  std::wstring peer = ts::testProgram(L"ipc_peer.exe");
  HANDLE held = us::createNamedMutex(name, false, true);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(us::createNamedMutex(name, false, true), nullptr) << "second create in the same process";
  EXPECT_EQ(ts::runProcess(peer, L"mutex " + name + L" 1"), 0);
  EXPECT_EQ(ts::runProcess(peer, L"mutex " + name + L" 0"), 1);
  HANDLE again = us::createNamedMutex(name, true, false);
  EXPECT_NE(again, nullptr);
  CloseHandle(again);
  CloseHandle(held);
  EXPECT_EQ(ts::runProcess(peer, L"mutex " + name + L" 1"), 1);
}

// A minimised window is restored and raised above a newer window without staying topmost; a
// topmost window is only shown and keeps its topmost state.
TEST(UsystemTest, BringWindowToFront) {
  TestWindow target(0, WS_POPUP | WS_VISIBLE);
  TestWindow newer(0, WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(target.get() && newer.get());
  ShowWindow(target.get(), SW_MINIMIZE);
  pump();
  ASSERT_TRUE(IsIconic(target.get()));

  us::bringWindowToFront(target.get());
  pump();
  EXPECT_FALSE(IsIconic(target.get()));
  EXPECT_TRUE(IsWindowVisible(target.get()));
  EXPECT_FALSE(isTopmost(target.get()));
  EXPECT_LT(zIndex(target.get()), zIndex(newer.get()));

  TestWindow topmost(WS_EX_TOPMOST, WS_POPUP);
  ASSERT_TRUE(topmost.get());
  ASSERT_FALSE(IsWindowVisible(topmost.get()));
  us::bringWindowToFront(topmost.get());
  pump();
  EXPECT_TRUE(IsWindowVisible(topmost.get()));
  EXPECT_TRUE(isTopmost(topmost.get()));
}

// The shutdown privilege can be enabled in this process's token (restarting is not tried here:
// it would end every program of the test prefix).
TEST(UsystemTest, EnableShutdownPrivilege) { EXPECT_TRUE(us::enableShutdownPrivilege()); }

// openUrl hands the address to the shell: a program path is started and the result is 1. For an
// address nothing is registered for, the browser program is started with the address instead.
TEST(UsystemTest, OpenUrl) {
  std::wstring recordPath = ts::makeTempDir(L"openurl") + L"record.txt";
  SetEnvironmentVariableW(L"ORV_PROBE_RECORD", recordPath.c_str());
  EXPECT_EQ(us::openUrl(ts::testProgram(L"proc_probe.exe")), 1);
  SetEnvironmentVariableW(L"ORV_PROBE_RECORD", nullptr);
  std::string record;
  EXPECT_TRUE(ts::pollUntil([&] { return ts::readFile(recordPath, record); }, 15000));

  std::wstring document = ts::makeTempDir(L"openurl") + L"page.orvnohandler";
  ASSERT_TRUE(ts::writeFile(document, "x"));
  std::set<DWORD> before = processIds(L"iexplore.exe");
  EXPECT_GT(us::openUrl(document), 32);
  DWORD browser = 0;
  EXPECT_TRUE(ts::pollUntil([&] {
    for (DWORD pid : processIds(L"iexplore.exe")) {
      if (!before.count(pid)) browser = pid;
    }
    return browser != 0;
  }));
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, browser)) {
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
}
