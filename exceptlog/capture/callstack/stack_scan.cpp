#include "exceptlog/capture/callstack/stack_scan.h"

#include <algorithm>
#include <array>

#include "exceptlog/capture/callstack/call_encodings.h"

namespace vellum::exceptlog {

namespace {

void InspectWord(const MemoryReader& memory, std::uint32_t value, const FoundAddress& found) {
  CodeTail tail;
  if (value < tail.size() || !memory.Read(value - static_cast<std::uint32_t>(tail.size()), tail.data(),
                                          static_cast<std::uint32_t>(tail.size()))) {
    return;
  }
  const CallMatch match = MatchCall(tail, value, memory);
  if (match.encoding == CallEncoding::kNone) return;
  if (match.target != 0) found(match.target);
  found(match.call_site);
}

}  // namespace

std::uint32_t ScannedStackEnd(const StackScanRange& range) {
  if (range.top <= range.position) return range.position;
  return range.top - range.position > kMaxScannedStackBytes ? range.position + kMaxScannedStackBytes : range.top;
}

void ScanStack(const MemoryReader& memory, const StackScanRange& range, const FoundAddress& found) {
  if (range.exception_address != 0) found(range.exception_address);
  const std::uint32_t end = ScannedStackEnd(range);
  std::array<std::uint32_t, kStackReadabilityWindow / 4> window;
  for (std::uint32_t cursor = range.position; end - cursor >= 4;) {
    const std::uint32_t words = std::min<std::uint32_t>((end - cursor) / 4, window.size());
    if (memory.Read(cursor, window.data(), words * 4)) {
      for (std::uint32_t i = 0; i < words; ++i) InspectWord(memory, window[i], found);
    } else {
      for (std::uint32_t i = 0; i < words; ++i) {
        if (const auto word = memory.ReadValue<std::uint32_t>(cursor + i * 4)) InspectWord(memory, *word, found);
      }
    }
    cursor += words * 4;
  }
}

}  // namespace vellum::exceptlog
