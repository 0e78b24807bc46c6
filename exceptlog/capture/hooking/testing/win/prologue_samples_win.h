// Procedures written in assembly so that their first bytes are known: each
// starts with a kind of instruction that a trampoline has to move. There is
// one set per bitness (prologue_samples_win.cpp, prologue_samples_x64_win.cpp);
// the procedures declared here are in both, with the same results. All answer
// in EAX and take their argument in one register, so a hook written in C++
// can stand in for them: in EAX in 32-bit code (regparm(1)), in ECX in 64-bit
// code, where that is every procedure's first argument.
#pragma once

#include <vector>

#if defined(__i386__)
#define HOOKING_SAMPLE_CALL __attribute__((regparm(1)))
#else
#define HOOKING_SAMPLE_CALL
#endif

extern "C" {
// x == 0 ? 100 : x + 1; begins "test; jz" (short Jcc out of the moved bytes)
int HOOKING_SAMPLE_CALL hooking_sample_short_jcc(int x);
// 5 * x + 3; begins with a near call of a helper
int HOOKING_SAMPLE_CALL hooking_sample_near_call(int x);
// x ^ 0x55 in four bytes, then int3 padding
int HOOKING_SAMPLE_CALL hooking_sample_padded(int x);
// x; shorter than a jump and directly followed by the next procedure
int HOOKING_SAMPLE_CALL hooking_sample_too_short(int x);
int HOOKING_SAMPLE_CALL hooking_sample_after_too_short(int x);
}

using HookingSample = int HOOKING_SAMPLE_CALL (*)(int);

struct PrologueSample {
  const char* name = nullptr;
  HookingSample procedure = nullptr;
};

// The samples of this build's bitness whose first bytes a trampoline can
// move, each starting with another kind of instruction.
std::vector<PrologueSample> MovablePrologueSamples();
