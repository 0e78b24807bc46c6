// An activation context made active for one scope: ActivateActCtx in the
// constructor, DeactivateActCtx with its cookie in the destructor. A context
// that could not be activated leaves the scope empty, not failed.
#pragma once

#include <windows.h>

namespace vellum::win {

class ActivationScope {
 public:
  explicit ActivationScope(HANDLE context) {
    if (context != INVALID_HANDLE_VALUE && !ActivateActCtx(context, &cookie_)) cookie_ = 0;
  }
  ~ActivationScope() {
    if (cookie_ != 0) DeactivateActCtx(0, cookie_);
  }
  ActivationScope(const ActivationScope&) = delete;
  ActivationScope& operator=(const ActivationScope&) = delete;

  bool active() const { return cookie_ != 0; }

 private:
  ULONG_PTR cookie_ = 0;
};

}  // namespace vellum::win
