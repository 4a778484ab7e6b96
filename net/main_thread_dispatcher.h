// Hands tasks to the UI thread and runs repeating timer tasks there, through one message-only
// window created on the UI thread at start-up.
//
// Thread-safety: postTask and cancelTasks from any thread; create, setTimer, killTimer and
// TaskTimer on the UI thread only. A posted task never runs synchronously; tasks posted from one
// thread run in posting order. An owner key is the address of a fixed member of the poster; once
// cancelled, the owner's queued tasks are released unrun.
// Ownership: every task passed in belongs to the dispatcher, also when it is refused.
#pragma once

#include <windows.h>

class Runable;

namespace MainThreadDispatcher {

constexpr UINT kPostedTaskMessage = 8888;

// Once, on the UI thread; later calls do nothing.
void create();
bool isCreated();
HWND windowForTesting();

void postTask(const void* owner, Runable* task);
void cancelTasks(const void* owner);

// Repeating timer running the task on every tick until killTimer. Returns the id, 0 on failure.
UINT_PTR setTimer(UINT intervalMs, Runable* task);
void killTimer(UINT_PTR id);

}  // namespace MainThreadDispatcher

// A repeating UI timer embedded in the object that owns the animation or poll.
struct TaskTimer {
  UINT_PTR id = 0;

  // False for an interval of 0, a null task or a refused timer (the task is then released).
  bool start(UINT intervalMs, Runable* task);
  void stop();
  bool isRunning() const { return id != 0; }
};
