// The 64-bit samples; see prologue_samples_win.h. They take their argument in
// ECX (a caller may leave garbage in the upper half of RCX) and answer in EAX.
// Branches whose encoding matters are spelled out as bytes: the assembler
// would otherwise pick short or near forms itself.
#include "exceptlog/capture/hooking/testing/win/prologue_samples_x64_win.h"

extern "C" {
// x == 0 ? 200 : 2 * x; begins "mov eax, ecx; mov ecx, ecx; jrcxz"
int hooking_sample_jrcxz(int x);
// x + 11; begins "nop; jmp short" over int3 padding
int hooking_sample_short_jmp(int x);
// x - 7; begins with a near jump to its body
int hooking_sample_near_jump(int x);
// x < 0 ? -1 : x; begins "test ecx, ecx; jl near"
int hooking_sample_near_jcc(int x);
}

std::vector<PrologueSample> MovablePrologueSamples() {
  return {
      {"short Jcc", &hooking_sample_short_jcc},    {"JRCXZ", &hooking_sample_jrcxz},
      {"short JMP", &hooking_sample_short_jmp},    {"near CALL", &hooking_sample_near_call},
      {"near JMP", &hooking_sample_near_jump},     {"near Jcc", &hooking_sample_near_jcc},
      {"padded", &hooking_sample_padded},          {"MOV from [RIP+x]", &hooking_sample_rip_load},
      {"LEA of [RIP+x]", &hooking_sample_rip_lea}, {"CMP [RIP+x] with an immediate", &hooking_sample_rip_compare},
  };
}

asm(R"(
  .data
  .p2align 2
sample_rip_value:
  .long 1000
sample_rip_factor:
  .long 3
sample_rip_flag:
  .long 1

  .text
  .intel_syntax noprefix

  .p2align 4, 0xCC
  .globl hooking_sample_short_jcc
hooking_sample_short_jcc:
  test ecx, ecx
  .byte 0x74, sample_jcc_zero - sample_jcc_after
sample_jcc_after:
  lea eax, [rcx + 1]
  ret
sample_jcc_zero:
  mov eax, 100
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_jrcxz
hooking_sample_jrcxz:
  mov eax, ecx
  mov ecx, ecx
  .byte 0xE3, sample_jrcxz_zero - sample_jrcxz_after
sample_jrcxz_after:
  add eax, eax
  ret
sample_jrcxz_zero:
  mov eax, 200
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_short_jmp
hooking_sample_short_jmp:
  nop
  .byte 0xEB, sample_jmp_body - sample_jmp_after
sample_jmp_after:
  int3
  int3
  int3
  int3
sample_jmp_body:
  lea eax, [rcx + 11]
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_near_call
hooking_sample_near_call:
  .byte 0xE8
  .long sample_helper - sample_call_after
sample_call_after:
  add eax, 3
  ret
sample_helper:
  lea eax, [rcx + rcx * 4]
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_near_jump
hooking_sample_near_jump:
  .byte 0xE9
  .long sample_jump_body - sample_jump_after
sample_jump_after:
  .fill 32, 1, 0xCC
sample_jump_body:
  lea eax, [rcx - 7]
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_near_jcc
hooking_sample_near_jcc:
  test ecx, ecx
  .byte 0x0F, 0x8C
  .long sample_jl_negative - sample_jl_after
sample_jl_after:
  mov eax, ecx
  ret
sample_jl_negative:
  mov eax, -1
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_padded
hooking_sample_padded:
  xchg eax, ecx
  xor al, 0x55
  ret
  .fill 12, 1, 0xCC

  .p2align 4, 0xCC
  .globl hooking_sample_rip_load
hooking_sample_rip_load:
  mov eax, dword ptr [rip + sample_rip_value]
  add eax, ecx
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_rip_lea
hooking_sample_rip_lea:
  lea rdx, [rip + sample_rip_factor]
  mov eax, dword ptr [rdx]
  imul eax, ecx
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_rip_compare
hooking_sample_rip_compare:
  cmp dword ptr [rip + sample_rip_flag], 0
  .byte 0x74, sample_compare_clear - sample_compare_after
sample_compare_after:
  lea eax, [rcx + 5]
  ret
sample_compare_clear:
  mov eax, -9
  ret

  .p2align 4, 0xCC
  .globl hooking_sample_too_short
hooking_sample_too_short:
  mov eax, ecx
  ret
  .globl hooking_sample_after_too_short
hooking_sample_after_too_short:
  lea eax, [rcx + 1]
  ret

  .att_syntax prefix
)");
