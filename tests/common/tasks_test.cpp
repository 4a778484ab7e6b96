#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/main_thread_dispatcher.h"
#include "net/runable.h"
#include "net/worker_thread.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

// Counts how often it ran and whether it was released.
struct Counters {
  std::atomic<int> runs{0};
  std::atomic<int> releases{0};
};

class ProbeTask : public Runable {
 public:
  explicit ProbeTask(Counters* c) : c_(c) {}
  ~ProbeTask() override { ++c_->releases; }
  void run() override { ++c_->runs; }

 private:
  Counters* c_;
};

struct Owner {
  int key;
};

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override { MainThreadDispatcher::create(); }
};

}  // namespace

// Two tasks queued for one owner, then cancelTasks before the UI thread runs them: both are
// released unrun. Another owner's task in between still runs.
TEST_F(Dispatcher, CancelledOwnersTasksAreReleasedUnrun) {
  Owner cancelled{}, other{};
  Counters a, b;
  MainThreadDispatcher::postTask(&cancelled.key, new ProbeTask(&a));
  MainThreadDispatcher::postTask(&other.key, new ProbeTask(&b));
  MainThreadDispatcher::postTask(&cancelled.key, new ProbeTask(&a));
  MainThreadDispatcher::cancelTasks(&cancelled.key);
  ASSERT_TRUE(ts::pumpUntil([&] { return a.releases == 2 && b.releases == 1; }));
  EXPECT_EQ(a.runs, 0);
  EXPECT_EQ(b.runs, 1);
  // Later posts of a cancelled owner never run either.
  MainThreadDispatcher::postTask(&cancelled.key, new ProbeTask(&a));
  ASSERT_TRUE(ts::pumpUntil([&] { return a.releases == 3; }));
  EXPECT_EQ(a.runs, 0);
}

// Cancelling an owner that never posted leaves it absent: its later posts run.
TEST_F(Dispatcher, CancelBeforeAnyPostDoesNotBlockTheOwner) {
  Owner owner{};
  Counters c;
  MainThreadDispatcher::cancelTasks(&owner.key);
  MainThreadDispatcher::postTask(&owner.key, new ProbeTask(&c));
  ASSERT_TRUE(ts::pumpUntil([&] { return c.releases == 1; }));
  EXPECT_EQ(c.runs, 1);
}

// Tasks posted from one worker thread run on the UI thread, in posting order, never synchronously.
TEST_F(Dispatcher, TasksFromOneThreadRunInOrderOnTheUiThread) {
  Owner owner{};
  std::vector<int> order;
  std::vector<DWORD> threads;
  std::thread poster([&] {
    for (int i = 0; i < 200; ++i)
      MainThreadDispatcher::postTask(&owner.key, makeRunable([&order, &threads, i] {
                                       order.push_back(i);
                                       threads.push_back(GetCurrentThreadId());
                                     }));
  });
  poster.join();
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(ts::pumpUntil([&] { return order.size() == 200; }));
  for (int i = 0; i < 200; ++i) ASSERT_EQ(order[static_cast<size_t>(i)], i);
  for (DWORD t : threads) ASSERT_EQ(t, GetCurrentThreadId());
}

// The first timer id is 1; a timer task runs on every tick until stop; stop on an idle timer does
// nothing; an interval of 0 is refused and its task released.
TEST_F(Dispatcher, TaskTimerTicksUntilStopped) {
  Counters refused;
  TaskTimer zero;
  EXPECT_FALSE(zero.start(0, new ProbeTask(&refused)));
  EXPECT_EQ(zero.id, 0u);
  EXPECT_EQ(refused.releases, 1);
  zero.stop();

  Counters c;
  TaskTimer timer;
  ASSERT_TRUE(timer.start(10, new ProbeTask(&c)));
  EXPECT_EQ(timer.id, 1u);
  ASSERT_TRUE(ts::pumpUntil([&] { return c.runs >= 3; }));
  timer.stop();
  EXPECT_EQ(timer.id, 0u);
  EXPECT_EQ(c.releases, 1);
  int runs = c.runs;
  ts::pumpUntil([] { return false; }, 100);
  EXPECT_EQ(c.runs, runs);
}

// A tick may stop its own timer: the task is released after the tick, not during it.
TEST_F(Dispatcher, TimerTaskCanStopItsOwnTimer) {
  TaskTimer timer;
  int ticks = 0;
  ASSERT_TRUE(timer.start(10, makeRunable([&] {
    if (++ticks == 3) timer.stop();
  })));
  ts::pumpUntil([] { return false; }, 300);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer.isRunning());
}

// start twice: true, then false, and the second task is released without running.
TEST(WorkerThreadTest, SecondStartIsRefused) {
  Counters first, second;
  WorkerThread worker;
  EXPECT_TRUE(worker.start(new ProbeTask(&first)));
  EXPECT_FALSE(worker.start(new ProbeTask(&second)));
  EXPECT_EQ(second.releases, 1);
  worker.stop(5000);
  EXPECT_EQ(first.runs, 1);
  EXPECT_EQ(first.releases, 1);
  EXPECT_EQ(second.runs, 0);
  EXPECT_EQ(worker.thread, nullptr);
}

// A task that ignores its stop flag is terminated when stop's wait runs out: exit code -1, and the
// task is still released.
TEST(WorkerThreadTest, StopTerminatesATaskThatIgnoresTheFlag) {
  std::atomic<bool> started{false};
  Counters c;
  struct Stubborn : ProbeTask {
    Stubborn(Counters* c, std::atomic<bool>* s) : ProbeTask(c), started(s) {}
    void run() override {
      *started = true;
      for (;;) Sleep(50);
    }
    std::atomic<bool>* started;
  };
  WorkerThread worker;
  ASSERT_TRUE(worker.start(new Stubborn(&c, &started)));
  ASSERT_TRUE(ts::pollUntil([&] { return started.load(); }));
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker.thread, GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  worker.requestStop();
  worker.stop(200);
  DWORD code = 0;
  ASSERT_EQ(WaitForSingleObject(copy, 5000), WAIT_OBJECT_0);
  GetExitCodeThread(copy, &code);
  CloseHandle(copy);
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_EQ(c.releases, 1);
  EXPECT_EQ(worker.thread, nullptr);
  EXPECT_EQ(worker.wakeEvent, nullptr);
}

// requestStop wakes a task waiting on the wake event at once; it sees the flag and ends.
TEST(WorkerThreadTest, RequestStopWakesAWaitingTask) {
  WorkerThread worker;
  std::atomic<bool> sawStop{false};
  ASSERT_TRUE(worker.start(makeRunable([&] {
    while (!worker.isStopRequested()) worker.waitForWake(60000);
    sawStop = true;
  })));
  worker.requestStop();
  ASSERT_TRUE(ts::pollUntil([&] { return sawStop.load(); }, 5000));
  worker.stop(5000);
  // A stopped worker can start again.
  Counters c;
  EXPECT_TRUE(worker.start(new ProbeTask(&c)));
  worker.stop(5000);
  EXPECT_EQ(c.runs, 1);
}
