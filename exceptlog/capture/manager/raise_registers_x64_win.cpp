// What the raise hook keeps of a 64-bit throw's registers: the stack and
// instruction pointers and the registers a callee preserves - all that
// walking the stack from there needs. A few moves, where the system's full
// capture also saves the vector and floating-point state; the hook runs on
// every throw, so the difference shows in a throw's cost.
//
// A leaf without unwind data, so that the walk's rule for a stopped frame
// without it (the return address at the stack pointer) steps out of it into
// the raise hook.
#include <windows.h>

#include <cstddef>

#include "exceptlog/capture/manager/raise_state_win.h"

static_assert(offsetof(CONTEXT, Rbx) == 0x90 && offsetof(CONTEXT, Rsp) == 0x98 && offsetof(CONTEXT, Rbp) == 0xA0 &&
                  offsetof(CONTEXT, Rsi) == 0xA8 && offsetof(CONTEXT, Rdi) == 0xB0 && offsetof(CONTEXT, R12) == 0xD8 &&
                  offsetof(CONTEXT, R13) == 0xE0 && offsetof(CONTEXT, R14) == 0xE8 && offsetof(CONTEXT, R15) == 0xF0 &&
                  offsetof(CONTEXT, Rip) == 0xF8,
              "the offsets the capture below writes");

asm(R"(
    .text
    .p2align 4
    .globl vellum_exceptlog_capture_walk_registers
    .def vellum_exceptlog_capture_walk_registers; .scl 2; .type 32; .endef
vellum_exceptlog_capture_walk_registers:
    movq %rbx, 0x90(%rcx)
    movq %rsp, 0x98(%rcx)
    movq %rbp, 0xA0(%rcx)
    movq %rsi, 0xA8(%rcx)
    movq %rdi, 0xB0(%rcx)
    movq %r12, 0xD8(%rcx)
    movq %r13, 0xE0(%rcx)
    movq %r14, 0xE8(%rcx)
    movq %r15, 0xF0(%rcx)
    leaq vellum_exceptlog_capture_walk_registers(%rip), %rax
    movq %rax, 0xF8(%rcx)
    ret
)");

extern "C" void vellum_exceptlog_capture_walk_registers(CONTEXT* context);

namespace vellum::exceptlog {

void CaptureWalkRegisters(CONTEXT& context) {
  vellum_exceptlog_capture_walk_registers(&context);
}

}  // namespace vellum::exceptlog
