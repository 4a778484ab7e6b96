#include "net/worker_thread.h"

#include <process.h>

#include "net/runable.h"

namespace {

unsigned __stdcall threadBody(void* arg) {
  static_cast<Runable*>(arg)->run();
  return 0;
}

}  // namespace

bool WorkerThread::start(Runable* newTask) {
  if (thread) {
    if (newTask) newTask->release();
    return false;
  }
  stopRequested = false;
  if (!wakeEvent) wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (task) task->release();
  task = newTask;
  if (task) thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, threadBody, task, 0, nullptr));
  return true;
}

void WorkerThread::requestStop() {
  stopRequested = true;
  if (wakeEvent) SetEvent(wakeEvent);
}

void WorkerThread::stop(DWORD waitMs) {
  if (thread) {
    if (WaitForSingleObject(thread, waitMs) == WAIT_TIMEOUT) TerminateThread(thread, static_cast<DWORD>(-1));
    CloseHandle(thread);
    thread = nullptr;
  }
  if (task) {
    task->release();
    task = nullptr;
  }
  if (wakeEvent) {
    CloseHandle(wakeEvent);
    wakeEvent = nullptr;
  }
}

bool WorkerThread::waitForWake(DWORD waitMs) {
  if (!wakeEvent) return false;
  return WaitForSingleObject(wakeEvent, waitMs) == WAIT_OBJECT_0;
}

void WorkerThread::wake() {
  if (wakeEvent) SetEvent(wakeEvent);
}
