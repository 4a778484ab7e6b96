#include "utility/window_ipc.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "log_tail.h"
#include "test_support.h"
#include "utility/usystem.h"

namespace ts = testing_support;
using testing_support::LogTail;
using utility::WindowIPC;

namespace {

using Call = std::tuple<int, WPARAM, LPARAM>;

class RecordingHandler : public utility::IWindowIPCHandle {
 public:
  int onHandleWindowIPC(int message, WPARAM wParam, LPARAM lParam) override {
    calls.emplace_back(message, wParam, lParam);
    return 0;
  }
  bool got(int message) const {
    for (const Call& c : calls) {
      if (std::get<0>(c) == message) return true;
    }
    return false;
  }
  std::vector<Call> calls;
};

std::wstring peerProgram() { return ts::testProgram(L"ipc_peer.exe"); }

int waitExit(PROCESS_INFORMATION& pi, DWORD timeoutMs = 30000) { return ts::waitForExit(pi, timeoutMs); }

}  // namespace

// Another process finds this process's endpoint by class and posts to it: 1024 does not reach the
// handler, 1025 and 11123 do, with their parameters. WM_COPYDATA reaches it too. Once the endpoint
// object is gone its window cannot be found any more.
TEST(WindowIpcTest, SecondProcessPostsToEndpoint) {
  std::wstring className = ts::uniqueName(L"IpcEndpoint");
  RecordingHandler handler;
  {
    WindowIPC endpoint;
    ASSERT_TRUE(endpoint.create(className, &handler));
    ASSERT_NE(endpoint.window(), nullptr);
    EXPECT_FALSE(IsWindowVisible(endpoint.window()));

    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(ts::startProcess(peerProgram(), L"post " + className + L" 1024:0:0 1025:1:2 11123:0:0", pi));
    EXPECT_TRUE(ts::pumpUntil([&] { return handler.got(11123); }, 30000));
    EXPECT_EQ(waitExit(pi), 0);
    EXPECT_EQ(handler.calls, (std::vector<Call>{Call(1025, 1, 2), Call(11123, 0, 0)}));

    handler.calls.clear();
    char payload[] = "copy";
    COPYDATASTRUCT data{7, sizeof payload, payload};
    SendMessageW(endpoint.window(), WM_USER, 3, 4);
    SendMessageW(endpoint.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(std::get<0>(handler.calls[0]), WM_COPYDATA);
  }
  WindowIPC sender;
  EXPECT_FALSE(sender.open(className));
}

// The single-instance exchange with a running first instance in another process: this process is
// refused the mutex, finds the first one's endpoint by class and posts 11123 with 0, 0; the first
// instance's handler gets 1025 and 11123 but not 1024. After it ended, the mutex can be taken.
TEST(WindowIpcTest, SingleInstanceExchange) {
  std::wstring name = ts::uniqueName(L"{IpcInstance}");
  std::wstring recordPath = ts::makeTempDir(L"ipc") + L"messages.txt";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(ts::startProcess(peerProgram(), L"endpoint " + name + L" \"" + recordPath + L"\"", pi));

  WindowIPC peer;
  bool found = ts::pollUntil([&] { return peer.open(name); }, 30000);
  if (!found) {
    waitExit(pi, 0);
    FAIL() << "the first instance's endpoint did not appear";
  }
  EXPECT_EQ(utility::usystem::createNamedMutex(name, false, true), nullptr);
  EXPECT_TRUE(peer.post(1024, 0, 0));
  EXPECT_TRUE(peer.post(1025, 5, 6));
  EXPECT_TRUE(peer.post(11123, 0, 0));
  EXPECT_EQ(waitExit(pi), 0);

  std::string messages;
  EXPECT_TRUE(ts::readFile(recordPath, messages));
  EXPECT_EQ(messages, "1025 5 6\n11123 0 0\n");
  HANDLE mutex = utility::usystem::createNamedMutex(name, false, true);
  EXPECT_NE(mutex, nullptr);
  if (mutex) CloseHandle(mutex);
}

// A class no window has: open fails without a log line, and post on that object (or on a fresh
// one) posts nothing and returns false.
TEST(WindowIpcTest, OpenWithoutPeer) {
  LogTail log;
  WindowIPC fresh;
  EXPECT_FALSE(fresh.post(11123, 0, 0));
  WindowIPC peer;
  EXPECT_FALSE(peer.open(ts::uniqueName(L"NoSuchClass")));
  EXPECT_FALSE(peer.post(11123, 0, 0));
  log.sync();
  EXPECT_EQ(log.count("utility::WindowIPC::open", L"className:"), 0u);
}
