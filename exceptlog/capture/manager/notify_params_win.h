// What the catch point and the dispatcher learnt of the raising thread and
// the screen, as application handlers and the pipeline's steps read it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vellum::exceptlog {

struct TExceptNotifyParams {
  const CONTEXT* CpuContext = nullptr;  // registers of the raising thread, when known
  std::uintptr_t StackTop = 0;          // 0: the raising thread's stack base
  std::uintptr_t StackPosition = 0;     // 0: the position the raise hook saved
  std::uint32_t ThreadId = 0;
  std::string ActiveControlClass;
  std::string ActiveControlText;  // "*" for every character of a password edit
  // For the screenshot: the focused window is framed, the cursor drawn in.
  HWND FocusedWindow = nullptr;
  HCURSOR Cursor = nullptr;  // none when no cursor was showing
};

}  // namespace vellum::exceptlog
