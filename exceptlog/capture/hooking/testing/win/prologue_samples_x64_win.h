// The 64-bit samples that only 64-bit code has: operands addressed relative
// to the instruction pointer among the first bytes. They read this program's
// data section, so their trampoline has to stay within 2 GB of it.
#pragma once

#include "exceptlog/capture/hooking/testing/win/prologue_samples_win.h"

extern "C" {
// x + 1000; begins "mov eax, [rip + value]"
int hooking_sample_rip_load(int x);
// 3 * x; begins "lea rdx, [rip + factor]"
int hooking_sample_rip_lea(int x);
// x + 5; begins "cmp dword [rip + flag], 0" (an immediate after the displacement)
int hooking_sample_rip_compare(int x);
}
