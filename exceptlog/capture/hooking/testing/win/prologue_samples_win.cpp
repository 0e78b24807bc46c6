// The 32-bit samples; see prologue_samples_win.h. Branches whose encoding
// matters are spelled out as bytes: the assembler would otherwise pick short
// or near forms itself.
#include "exceptlog/capture/hooking/testing/win/prologue_samples_win.h"

extern "C" {
// x == 0 ? 200 : 2 * x; begins "mov ecx, eax; jecxz"
int HOOKING_SAMPLE_CALL hooking_sample_jecxz(int x);
// x + 11; begins "nop; jmp short" over int3 padding
int HOOKING_SAMPLE_CALL hooking_sample_short_jmp(int x);
// x - 7; begins with a near jump to its body
int HOOKING_SAMPLE_CALL hooking_sample_near_jump(int x);
// x < 0 ? -1 : x; begins "test eax, eax; jl near"
int HOOKING_SAMPLE_CALL hooking_sample_near_jcc(int x);
}

std::vector<PrologueSample> MovablePrologueSamples() {
  return {
      {"short Jcc", &hooking_sample_short_jcc}, {"JECXZ", &hooking_sample_jecxz},
      {"short JMP", &hooking_sample_short_jmp}, {"near CALL", &hooking_sample_near_call},
      {"near JMP", &hooking_sample_near_jump},  {"near Jcc", &hooking_sample_near_jcc},
      {"padded", &hooking_sample_padded},
  };
}

asm(R"(
  .text
  .intel_syntax noprefix

  .p2align 4, 0xCC
  .globl _hooking_sample_short_jcc
_hooking_sample_short_jcc:
  test eax, eax
  .byte 0x74, sample_jcc_zero - sample_jcc_after
sample_jcc_after:
  add eax, 1
  ret
sample_jcc_zero:
  mov eax, 100
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_jecxz
_hooking_sample_jecxz:
  mov ecx, eax
  .byte 0xE3, sample_jecxz_zero - sample_jecxz_after
sample_jecxz_after:
  add eax, eax
  ret
sample_jecxz_zero:
  mov eax, 200
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_short_jmp
_hooking_sample_short_jmp:
  nop
  .byte 0xEB, sample_jmp_body - sample_jmp_after
sample_jmp_after:
  int3
  int3
  int3
  int3
sample_jmp_body:
  add eax, 11
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_near_call
_hooking_sample_near_call:
  .byte 0xE8
  .long sample_helper - sample_call_after
sample_call_after:
  add eax, 3
  ret
sample_helper:
  lea eax, [eax + eax * 4]
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_near_jump
_hooking_sample_near_jump:
  .byte 0xE9
  .long sample_jump_body - sample_jump_after
sample_jump_after:
  .fill 32, 1, 0xCC
sample_jump_body:
  sub eax, 7
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_near_jcc
_hooking_sample_near_jcc:
  test eax, eax
  .byte 0x0F, 0x8C
  .long sample_jl_negative - sample_jl_after
sample_jl_after:
  ret
sample_jl_negative:
  mov eax, -1
  ret

  .p2align 4, 0xCC
  .globl _hooking_sample_padded
_hooking_sample_padded:
  xor eax, 0x55
  ret
  .fill 12, 1, 0xCC

  .p2align 4, 0xCC
  .globl _hooking_sample_too_short
_hooking_sample_too_short:
  ret
  .globl _hooking_sample_after_too_short
_hooking_sample_after_too_short:
  lea eax, [eax + 1]
  ret

  .att_syntax prefix
)");
