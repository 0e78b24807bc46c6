#include "exceptlog/capture/callstack/exported_functions.h"

#include <algorithm>
#include <array>

namespace vellum::exceptlog {

namespace {

bool IsReturn(std::uint8_t byte) {
  return byte == 0xC2 || byte == 0xC3 || byte == 0xCA || byte == 0xCB;
}

constexpr std::uint32_t kUnknownSize = 1;

}  // namespace

void TRuzadaFunctionsList::SortByAddress() {
  std::stable_sort(items_.begin(), items_.end(),
                   [](const TRuzadaFunctionInfo& a, const TRuzadaFunctionInfo& b) { return a.Address < b.Address; });
}

const TRuzadaFunctionInfo* TRuzadaFunctionsList::FindByAddress(std::uint64_t address) const {
  // The last function starting at or below the address; several exports may
  // share one address, and the first of them names it.
  auto after = std::upper_bound(items_.begin(), items_.end(), address,
                                [](std::uint64_t a, const TRuzadaFunctionInfo& info) { return a < info.Address; });
  if (after == items_.begin()) return nullptr;
  const std::uint64_t start = std::prev(after)->Address;
  const auto first = std::lower_bound(
      items_.begin(), after, start, [](const TRuzadaFunctionInfo& info, std::uint64_t a) { return info.Address < a; });
  // Among those sharing the start, the longest range decides.
  const TRuzadaFunctionInfo* best = nullptr;
  for (auto it = first; it != after; ++it) {
    if (address - it->Address <= it->Size && (best == nullptr || it->Size > best->Size)) best = &*it;
  }
  return best;
}

std::uint32_t EstimateProcedureSize(const MemoryReader& memory, std::uint64_t address, std::uint64_t code_start,
                                    std::uint64_t code_end) {
  if (address < code_start || address >= code_end) return kUnknownSize;
  std::array<std::uint8_t, 512> chunk;
  bool framed = false;
  bool after_frame_end = false;  // the previous byte was POP EBP or LEAVE
  for (std::uint64_t cursor = address; cursor < code_end;) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(code_end - cursor, chunk.size()));
    if (!memory.Read(cursor, chunk.data(), count)) return kUnknownSize;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t byte = chunk[i];
      const std::uint64_t at = cursor + i;
      if (at == address) {
        framed = byte == 0x55;
        if (!framed && IsReturn(byte)) return 0;
        continue;
      }
      if (framed) {
        if (after_frame_end && IsReturn(byte)) return static_cast<std::uint32_t>(at - address);
        after_frame_end = byte == 0x5D || byte == 0xC9;
      } else if (IsReturn(byte)) {
        return static_cast<std::uint32_t>(at - address);
      }
    }
    cursor += count;
  }
  return kUnknownSize;
}

}  // namespace vellum::exceptlog
