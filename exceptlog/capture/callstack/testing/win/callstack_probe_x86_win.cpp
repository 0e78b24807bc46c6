// The probe's 32-bit code. ChainOuter calls ChainMiddle, which calls
// ChainInner, which calls the test's callback through a register. The
// chain's frames start with the classic prologue "55 8B EC" (the assembler
// would pick "89 E5" for the same move), which the line tables' count of
// lines within a procedure looks for.

asm(R"(
  .text
  .intel_syntax noprefix

  .p2align 4, 0xCC
  .globl _ChainOuter
_ChainOuter:
  .byte 0x55, 0x8B, 0xEC
  push dword ptr [ebp + 8]
  call _ChainMiddle
  add esp, 4
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ChainMiddle
_ChainMiddle:
  .byte 0x55, 0x8B, 0xEC
  push dword ptr [ebp + 8]
  call _ChainInner
  add esp, 4
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ChainInner
_ChainInner:
  .byte 0x55, 0x8B, 0xEC
  mov eax, [ebp + 8]
  call eax
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ThunkCaller
_ThunkCaller:
  push 0
  call _Sleep@4
  ret

  .p2align 4, 0xCC
  .globl _MangledProcedure
_MangledProcedure:
  push ebp
  mov ebp, esp
  mov eax, 7
  pop ebp
  ret

  .att_syntax
)");
