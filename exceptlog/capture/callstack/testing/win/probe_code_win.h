// Where the probe's assembly for this build's architecture puts its calls
// (callstack_probe_x86_win.cpp, callstack_probe_x64_win.cpp): the tests look
// for entries at these addresses to the byte.
#pragma once

#include <cstdint>

#include "exceptlog/capture/callstack/win/process_address_win.h"

namespace vellum::exceptlog::testing {

struct ProbeCodeLayout {
  // Each chain procedure's call, from the procedure's start.
  std::uint32_t chain_call = 0;
  // ChainOuter, ChainMiddle and ChainInner up to and with their RET.
  std::uint32_t chain_lengths[3] = {};
  // ThunkCaller's call of the import thunk.
  std::uint32_t thunk_call = 0;
  // The chain starts with the 32-bit frame "55 8B EC", which the line
  // tables' count of lines within a procedure takes for a stack frame; the
  // 64-bit frame's "55 48 89 E5" it does not.
  bool classic_frame = false;
};

inline constexpr ProbeCodeLayout kProbeCode = kThisProcessBits == ProcessBits::k64
                                                  ? ProbeCodeLayout{8, {19, 19, 16}, 6, false}
                                                  : ProbeCodeLayout{6, {16, 16, 10}, 2, true};

inline constexpr std::uint32_t kRelativeCallLength = 5;  // E8 rel32
inline constexpr std::uint32_t kRegisterCallLength = 2;  // FF D0+r: "call eax", "call rcx"

}  // namespace vellum::exceptlog::testing
