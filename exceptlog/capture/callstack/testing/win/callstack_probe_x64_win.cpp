// The probe's 64-bit code. ChainOuter calls ChainMiddle, which calls
// ChainInner, which calls the test's callback through RCX, the register its
// argument arrives in and that no level touches. Each level has unwind data,
// so a walk steps through it exactly; every call sits 8 bytes in, after
// "push rbp; mov rbp, rsp; sub rsp, 32" (the 32 bytes are the callee's home
// space, and keep the stack aligned for the callback).
//
// UnwindlessOuter calls the chain from code without unwind data, as
// hand-written code may: a walk cannot step out of it and must go on from
// its frame by scanning the stack words.

asm(R"(
  .text
  .intel_syntax noprefix

  .p2align 4, 0xCC
  .globl ChainOuter
  .def ChainOuter; .scl 2; .type 32; .endef
  .seh_proc ChainOuter
ChainOuter:
  push rbp
  .seh_pushreg rbp
  mov rbp, rsp
  .seh_setframe rbp, 0
  sub rsp, 32
  .seh_stackalloc 32
  .seh_endprologue
  call ChainMiddle
  add rsp, 32
  pop rbp
  ret
  .seh_endproc

  .p2align 4, 0xCC
  .globl ChainMiddle
  .def ChainMiddle; .scl 2; .type 32; .endef
  .seh_proc ChainMiddle
ChainMiddle:
  push rbp
  .seh_pushreg rbp
  mov rbp, rsp
  .seh_setframe rbp, 0
  sub rsp, 32
  .seh_stackalloc 32
  .seh_endprologue
  call ChainInner
  add rsp, 32
  pop rbp
  ret
  .seh_endproc

  .p2align 4, 0xCC
  .globl ChainInner
  .def ChainInner; .scl 2; .type 32; .endef
  .seh_proc ChainInner
ChainInner:
  push rbp
  .seh_pushreg rbp
  mov rbp, rsp
  .seh_setframe rbp, 0
  sub rsp, 32
  .seh_stackalloc 32
  .seh_endprologue
  call rcx
  add rsp, 32
  pop rbp
  ret
  .seh_endproc

  # Sleep(0) through the import library's thunk "jmp [rip + __imp_Sleep]",
  # which GNU ld pads with two NOPs. The call sits 6 bytes in.
  .p2align 4, 0xCC
  .globl ThunkCaller
  .def ThunkCaller; .scl 2; .type 32; .endef
  .seh_proc ThunkCaller
ThunkCaller:
  sub rsp, 40
  .seh_stackalloc 40
  .seh_endprologue
  xor ecx, ecx
  call Sleep
  add rsp, 40
  ret
  .seh_endproc

  # A leaf: it needs no unwind data.
  .p2align 4, 0xCC
  .globl MangledProcedure
  .def MangledProcedure; .scl 2; .type 32; .endef
MangledProcedure:
  mov eax, 7
  ret

  # No .seh_proc: nothing in the exception directory covers this code. Its
  # call sits 4 bytes in.
  .p2align 4, 0xCC
  .globl UnwindlessOuter
  .def UnwindlessOuter; .scl 2; .type 32; .endef
UnwindlessOuter:
  sub rsp, 40
  call ChainOuter
  add rsp, 40
  ret

  .att_syntax
)");
