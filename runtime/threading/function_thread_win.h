// A runtime thread whose Execute is a function given at construction, for
// work that needs no class of its own.
#pragma once

#include <functional>
#include <utility>

#include "runtime/threading/thread_win.h"

namespace vellum {

class FunctionThread final : public Thread {
 public:
  // `body` gets the thread so that it can poll Terminated and set the
  // return value.
  using Body = std::function<void(FunctionThread& self)>;

  explicit FunctionThread(Body body) : body_(std::move(body)) {}
  ~FunctionThread() override { TerminateAndWait(); }

  using Thread::SetReturnValue;

 protected:
  void Execute() override { body_(*this); }

 private:
  Body body_;
};

}  // namespace vellum
