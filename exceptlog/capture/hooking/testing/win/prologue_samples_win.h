// Procedures written in assembly so that their first bytes are known: each
// starts with a kind of instruction that a trampoline has to move. All take
// their argument in EAX and answer in EAX (regparm(1)), so a hook written in
// C++ can stand in for them.
#pragma once

#define HOOKING_SAMPLE_CALL __attribute__((regparm(1)))

extern "C" {
// x == 0 ? 100 : x + 1; begins "test eax, eax; jz" (short Jcc out of the moved bytes)
int HOOKING_SAMPLE_CALL hooking_sample_short_jcc(int x);
// x == 0 ? 200 : 2 * x; begins "mov ecx, eax; jecxz"
int HOOKING_SAMPLE_CALL hooking_sample_jecxz(int x);
// x + 11; begins "nop; jmp short" over int3 padding
int HOOKING_SAMPLE_CALL hooking_sample_short_jmp(int x);
// 5 * x + 3; begins with a near call of a helper
int HOOKING_SAMPLE_CALL hooking_sample_near_call(int x);
// x - 7; begins with a near jump to its body
int HOOKING_SAMPLE_CALL hooking_sample_near_jump(int x);
// x < 0 ? -1 : x; begins "test eax, eax; jl near"
int HOOKING_SAMPLE_CALL hooking_sample_near_jcc(int x);
// x ^ 0x55 in four bytes, then int3 padding
int HOOKING_SAMPLE_CALL hooking_sample_padded(int x);
// x; a lone "ret" directly followed by the next procedure
int HOOKING_SAMPLE_CALL hooking_sample_too_short(int x);
int HOOKING_SAMPLE_CALL hooking_sample_after_too_short(int x);
}

using HookingSample = int HOOKING_SAMPLE_CALL (*)(int);
