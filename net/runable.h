// Heap-allocated units of work. Whoever receives a task owns it and ends it with release(),
// never delete.
#pragma once

#include <utility>

class Runable {
 public:
  virtual void release() { delete this; }
  virtual ~Runable() = default;
  virtual void run() = 0;
};

// Wraps a callable and its captured values.
template <typename F>
class FunctionRunable : public Runable {
 public:
  explicit FunctionRunable(F f) : f_(std::move(f)) {}
  void run() override { f_(); }

 private:
  F f_;
};

template <typename F>
Runable* makeRunable(F f) {
  return new FunctionRunable<F>(std::move(f));
}

// Calls one member function of an object it does not own.
template <typename T>
class MemberFuncRunable : public Runable {
 public:
  using Method = void (T::*)();
  MemberFuncRunable(T* object, Method method) : object_(object), method_(method) {}
  void run() override { (object_->*method_)(); }

 private:
  T* object_;
  Method method_;
};
