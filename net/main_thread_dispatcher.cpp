#include "net/main_thread_dispatcher.h"

#include <map>

#include "net/runable.h"

namespace MainThreadDispatcher {
namespace {

struct Dispatcher {
  CRITICAL_SECTION lock;
  DWORD uiThreadId = 0;
  HWND window = nullptr;
  std::map<UINT_PTR, Runable*> timers;
  UINT_PTR lastTimerId = 0;
  std::map<const void*, int> owners;  // pending count per owner, -1 once cancelled
  Runable* runningTimerTask = nullptr;  // a tick may kill its own timer: release it after the tick
  bool releaseRunningTimerTask = false;
};

Dispatcher* g_dispatcher = nullptr;

void runPosted(const void* owner, Runable* task) {
  Dispatcher& d = *g_dispatcher;
  bool run = false;
  EnterCriticalSection(&d.lock);
  auto it = d.owners.find(owner);
  if (it != d.owners.end() && it->second >= 0) {
    --it->second;
    run = true;
  }
  LeaveCriticalSection(&d.lock);
  if (run) task->run();
  task->release();
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kPostedTaskMessage) {
    runPosted(reinterpret_cast<const void*>(wp), reinterpret_cast<Runable*>(lp));
    return 0;
  }
  if (msg == WM_TIMER) {
    Dispatcher& d = *g_dispatcher;
    auto it = d.timers.find(static_cast<UINT_PTR>(wp));
    if (it == d.timers.end()) return 0;
    Runable* task = it->second;
    d.runningTimerTask = task;
    task->run();
    d.runningTimerTask = nullptr;
    if (d.releaseRunningTimerTask) {
      d.releaseRunningTimerTask = false;
      task->release();
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void create() {
  if (g_dispatcher) return;
  g_dispatcher = new Dispatcher;
  InitializeCriticalSection(&g_dispatcher->lock);
  g_dispatcher->uiThreadId = GetCurrentThreadId();
  g_dispatcher->window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
  if (g_dispatcher->window)
    SetWindowLongPtrW(g_dispatcher->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
}

bool isCreated() { return g_dispatcher != nullptr; }

HWND windowForTesting() { return g_dispatcher ? g_dispatcher->window : nullptr; }

void postTask(const void* owner, Runable* task) {
  if (!task) return;
  if (!g_dispatcher) {
    task->release();
    return;
  }
  Dispatcher& d = *g_dispatcher;
  EnterCriticalSection(&d.lock);
  auto it = d.owners.find(owner);
  if (it == d.owners.end())
    d.owners.emplace(owner, 1);
  else if (it->second >= 0)
    ++it->second;
  LeaveCriticalSection(&d.lock);
  if (!PostMessageW(d.window, kPostedTaskMessage, reinterpret_cast<WPARAM>(owner), reinterpret_cast<LPARAM>(task)))
    task->release();  // the queue refused it: nothing else would ever free it
}

void cancelTasks(const void* owner) {
  if (!g_dispatcher) return;
  Dispatcher& d = *g_dispatcher;
  EnterCriticalSection(&d.lock);
  auto it = d.owners.find(owner);
  if (it != d.owners.end()) it->second = -1;
  LeaveCriticalSection(&d.lock);
}

UINT_PTR setTimer(UINT intervalMs, Runable* task) {
  if (!g_dispatcher) {
    if (task) task->release();
    return 0;
  }
  Dispatcher& d = *g_dispatcher;
  UINT_PTR id = SetTimer(d.window, ++d.lastTimerId, intervalMs, nullptr);
  if (id)
    d.timers[id] = task;
  else if (task)
    task->release();
  return id;
}

void killTimer(UINT_PTR id) {
  if (!g_dispatcher) return;
  Dispatcher& d = *g_dispatcher;
  auto it = d.timers.find(id);
  if (it == d.timers.end()) return;
  Runable* task = it->second;
  d.timers.erase(it);
  KillTimer(d.window, id);
  if (task == d.runningTimerTask)
    d.releaseRunningTimerTask = true;
  else
    task->release();
}

}  // namespace MainThreadDispatcher

bool TaskTimer::start(UINT intervalMs, Runable* task) {
  if (intervalMs == 0 || !task) {
    if (task) task->release();
    return false;
  }
  id = MainThreadDispatcher::setTimer(intervalMs, task);
  return id != 0;
}

void TaskTimer::stop() {
  if (id == 0) return;
  MainThreadDispatcher::killTimer(id);
  id = 0;
}
