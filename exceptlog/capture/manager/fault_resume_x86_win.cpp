// Where a converted fault goes on in a 32-bit process: straight in the
// procedure that throws. Frames are described by the compiler's call-frame
// information, which needs no particular alignment of the stack.
#include "exceptlog/capture/manager/fault_resume_win.h"

extern "C" [[noreturn]] void vellum_exceptlog_throw_pending_fault();

namespace vellum::exceptlog {

std::uintptr_t FaultResumeEntry() {
  return reinterpret_cast<std::uintptr_t>(&vellum_exceptlog_throw_pending_fault);
}

}  // namespace vellum::exceptlog
