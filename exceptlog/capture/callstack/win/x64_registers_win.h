// A 64-bit thread's registers as the portable unwinder numbers them. For
// 64-bit code only: the CONTEXT it reads is the x64 one.
#pragma once

#include <windows.h>

#include "exceptlog/capture/callstack/x64_unwind.h"

namespace vellum::exceptlog {

inline X64Registers X64RegistersOf(const CONTEXT& c) {
  X64Registers registers;
  registers.rip = c.Rip;
  registers.general = {c.Rax, c.Rcx, c.Rdx, c.Rbx, c.Rsp, c.Rbp, c.Rsi, c.Rdi,
                       c.R8,  c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15};
  return registers;
}

}  // namespace vellum::exceptlog
