#include "utility/window_ipc.h"

#include "common/log.h"

namespace utility {

WindowIPC::~WindowIPC() {
  // Only an endpoint has a handler; its window must not call into a destroyed object.
  if (handler_ && window_ && IsWindow(window_) &&
      reinterpret_cast<WindowIPC*>(GetWindowLongPtrW(window_, GWLP_USERDATA)) == this) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

LRESULT CALLBACK WindowIPC::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<WindowIPC*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (self) self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (message > WM_USER || message == WM_COPYDATA) {
    auto* self = reinterpret_cast<WindowIPC*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->window_ == window && self->handler_) {
      self->handler_->onHandleWindowIPC(static_cast<int>(message), wParam, lParam);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool WindowIPC::create(const std::wstring& className, IWindowIPCHandle* handler) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className.c_str();
  // A class left from an earlier endpoint of this process serves as well.
  RegisterClassExW(&windowClass);
  // Top-level rather than message-only, so that other processes find it by class.
  window_ = nullptr;
  HWND created = CreateWindowExW(0, className.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, this);
  if (!created || !window_) {
    window_ = nullptr;
    return false;
  }
  handler_ = handler;
  return true;
}

bool WindowIPC::open(const std::wstring& className, const std::wstring& windowName) {
  // FindWindowExW need not clear a stale error when it finds nothing.
  SetLastError(0);
  window_ = FindWindowExW(nullptr, nullptr, className.empty() ? nullptr : className.c_str(),
                          windowName.empty() ? nullptr : windowName.c_str());
  if (window_) return true;
  DWORD error = GetLastError();
  if (error != 0 && error != ERROR_FILE_NOT_FOUND) {
    common::log("utility::WindowIPC::open", __LINE__, L"className:%s, windowName:%s, error:%d", className.c_str(),
                windowName.c_str(), static_cast<int>(error));
  }
  return false;
}

bool WindowIPC::post(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!window_) return false;
  return PostMessageW(window_, message, wParam, lParam) != FALSE;
}

}  // namespace utility
