// One thread running one task, with a stop flag the task polls and a wake event that lets a
// waiting task notice a stop request at once.
//
// Thread-safety: start/stop/requestStop are called by the owning thread; the task reads the flag
// and waits on the event. Ownership: the task given to start belongs to the WorkerThread from
// then on, also when start refuses it (it is released at once).
#pragma once

#include <windows.h>

#include <atomic>

class Runable;

struct WorkerThread {
  Runable* task = nullptr;
  HANDLE thread = nullptr;
  HANDLE wakeEvent = nullptr;
  std::atomic<bool> stopRequested{false};

  WorkerThread() = default;
  ~WorkerThread() { stop(0); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // False, with the task released unrun, while a thread exists (running or finished).
  bool start(Runable* newTask);
  void requestStop();
  bool isStopRequested() const { return stopRequested.load(); }
  // Waits at most waitMs for the thread, terminating it (exit code -1) past that; then releases
  // the task and closes the event. Does not set the stop flag.
  void stop(DWORD waitMs);
  // Waits on the wake event; true when woken (stop request or explicit wake), false on time-out.
  bool waitForWake(DWORD waitMs);
  void wake();
};
