// Finding return addresses on a raw stack: every word whose preceding code is
// a call instruction is one. The scan is bounded, so that a thread with a
// deep stack costs no more than one with a shallow one, and reads every
// word and every code byte through a MemoryReader.
#pragma once

#include <cstdint>
#include <functional>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

// Beyond this many bytes above the scan's start, the stack is not scanned:
// the frames of interest are the innermost ones.
inline constexpr std::uint32_t kMaxScannedStackBytes = 102400;
// Stack words are checked for readability this many bytes at a time; a
// window that is not readable as a whole is checked word by word.
inline constexpr std::uint32_t kStackReadabilityWindow = 400;

struct StackScanRange {
  std::uint64_t exception_address = 0;  // listed first; 0 = none
  std::uint64_t position = 0;           // lowest stack address scanned
  std::uint64_t top = 0;                // first address above the stack
  // A 64-bit process's stack holds 8-byte words, aligned on 8.
  ProcessBits bits = ProcessBits::k32;
};

// One found address; `address` is a call site or, for a relative call, the
// call's target, which comes just before its call site.
using FoundAddress = std::function<void(std::uint64_t address)>;

// Calls `found` for the exception address, then for every return address's
// call (and relative call's target) from `position` upwards.
void ScanStack(const MemoryReader& memory, const StackScanRange& range, const FoundAddress& found);

// The end of the scanned part of [position, top).
std::uint64_t ScannedStackEnd(const StackScanRange& range);

}  // namespace vellum::exceptlog
