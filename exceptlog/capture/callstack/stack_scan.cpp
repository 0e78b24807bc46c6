#include "exceptlog/capture/callstack/stack_scan.h"

#include <algorithm>
#include <array>

#include "exceptlog/capture/callstack/call_encodings.h"

namespace vellum::exceptlog {

namespace {

void InspectWord(const MemoryReader& memory, std::uint64_t value, ProcessBits bits, const FoundAddress& found) {
  CodeTail tail;
  if (value < tail.size() || !memory.Read(value - tail.size(), tail.data(), static_cast<std::uint32_t>(tail.size()))) {
    return;
  }
  const CallMatch match = MatchCall(tail, value, memory, bits);
  if (match.encoding == CallEncoding::kNone) return;
  if (match.target != 0) found(match.target);
  found(match.call_site);
}

template <typename Word>
void ScanWords(const MemoryReader& memory, const StackScanRange& range, const FoundAddress& found) {
  constexpr std::uint32_t kWord = sizeof(Word);
  const std::uint64_t end = ScannedStackEnd(range);
  std::array<Word, kStackReadabilityWindow / kWord> window;
  for (std::uint64_t cursor = range.position; end - cursor >= kWord;) {
    const auto words = static_cast<std::uint32_t>(std::min<std::uint64_t>((end - cursor) / kWord, window.size()));
    if (memory.Read(cursor, window.data(), words * kWord)) {
      for (std::uint32_t i = 0; i < words; ++i) InspectWord(memory, window[i], range.bits, found);
    } else {
      for (std::uint32_t i = 0; i < words; ++i) {
        if (const auto word = memory.ReadValue<Word>(cursor + i * kWord)) InspectWord(memory, *word, range.bits, found);
      }
    }
    cursor += words * kWord;
  }
}

}  // namespace

std::uint64_t ScannedStackEnd(const StackScanRange& range) {
  if (range.top <= range.position) return range.position;
  return range.top - range.position > kMaxScannedStackBytes ? range.position + kMaxScannedStackBytes : range.top;
}

void ScanStack(const MemoryReader& memory, const StackScanRange& range, const FoundAddress& found) {
  if (range.exception_address != 0) found(range.exception_address);
  if (range.bits == ProcessBits::k64) {
    ScanWords<std::uint64_t>(memory, range, found);
  } else {
    ScanWords<std::uint32_t>(memory, range, found);
  }
}

}  // namespace vellum::exceptlog
