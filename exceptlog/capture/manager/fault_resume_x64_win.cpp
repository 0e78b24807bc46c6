// Where a converted fault goes on in a 64-bit process. The fault conversion
// makes the faulting thread "call" this entry from the faulting instruction
// without knowing how its stack pointer is aligned there (a leaf procedure
// faults with it 8 below a 16-byte boundary, a procedure past its prologue
// on one). The entry keeps the frame pointer it found and aligns the stack
// for the procedure that throws; its unwind data says exactly that, so the
// unwinder gets the faulting procedure's registers back however the stack
// was aligned.
#include "exceptlog/capture/manager/fault_resume_win.h"

extern "C" [[noreturn]] void vellum_exceptlog_throw_pending_fault();

asm(R"(
    .text
    .p2align 4
    .globl vellum_exceptlog_fault_resume
    .def vellum_exceptlog_fault_resume; .scl 2; .type 32; .endef
    .seh_proc vellum_exceptlog_fault_resume
vellum_exceptlog_fault_resume:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call vellum_exceptlog_throw_pending_fault
    int3
    .seh_endproc
)");

extern "C" void vellum_exceptlog_fault_resume();

namespace vellum::exceptlog {

std::uintptr_t FaultResumeEntry() {
  return reinterpret_cast<std::uintptr_t>(&vellum_exceptlog_fault_resume);
}

}  // namespace vellum::exceptlog
