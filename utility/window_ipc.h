// Window-message rendezvous between processes. The endpoint owns a hidden top-level window of a
// known class and hands it every message above WM_USER, and WM_COPYDATA, to its handler; a sender
// finds that window by class and posts to it.
// The endpoint's handler runs on the thread that called create, from that thread's message loop;
// post may be called from any thread and does not wait for the handler.
#pragma once

#include <windows.h>

#include <string>

namespace utility {

class IWindowIPCHandle {
 public:
  virtual ~IWindowIPCHandle() = default;
  // The result is not used.
  virtual int onHandleWindowIPC(int message, WPARAM wParam, LPARAM lParam) = 0;
};

class WindowIPC {
 public:
  WindowIPC() = default;
  // An endpoint destroys its window (on its own thread); a sender leaves the peer's window alone.
  ~WindowIPC();
  WindowIPC(const WindowIPC&) = delete;
  WindowIPC& operator=(const WindowIPC&) = delete;

  // Endpoint: registers the class and creates the never-shown window; the handler is not owned.
  bool create(const std::wstring& className, IWindowIPCHandle* handler);
  // Sender: finds a top-level window by class and/or title (an empty text matches any).
  bool open(const std::wstring& className, const std::wstring& windowName = std::wstring());
  // PostMessageW to the window held; false when there is none.
  bool post(UINT message, WPARAM wParam, LPARAM lParam);

  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  IWindowIPCHandle* handler_ = nullptr;
};

}  // namespace utility
