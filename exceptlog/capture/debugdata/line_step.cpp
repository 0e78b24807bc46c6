#include "exceptlog/capture/debugdata/line_step.h"

namespace vellum::exceptlog {
namespace {

// The four-byte value (shifted right by 4) that announces two 16-bit steps.
constexpr std::uint32_t kEscape = 0x0FFEFFFE;
// Blocks up to this version knew no escape: the same bits were a plain step.
constexpr std::uint16_t kLastVersionWithoutEscape = 422;
// In the four-byte form this address field means "no address step".
constexpr std::uint32_t kNoAddressStep = 0xFFF;

bool HasEscape(std::uint16_t block_version) {
  return block_version > kLastVersionWithoutEscape;
}

}  // namespace

LineStep ReadLineStep(DebugDataCursor& in, std::uint16_t block_version) {
  const std::uint8_t f = in.U8();
  if ((f & 1) == 0)
    return {static_cast<std::uint32_t>(f >> 6) + 1, static_cast<std::uint32_t>((f >> 1) & 0x1F) + 1, false};
  if ((f & 2) == 0) return {static_cast<std::uint32_t>(f >> 5) + 1, static_cast<std::uint32_t>((f >> 2) & 7) + 1, true};
  const bool named = (f & 4) != 0;
  if ((f & 8) == 0) {
    const std::uint32_t w = f | static_cast<std::uint32_t>(in.U8()) << 8;
    return {(w >> 11) + 1, ((w >> 4) & 0x7F) + 1, named};
  }
  const std::uint32_t d = f | static_cast<std::uint32_t>(in.Fixed(3)) << 8;
  const std::uint32_t v = d >> 4;
  if (v == kEscape && HasEscape(block_version)) {
    const std::uint32_t line = static_cast<std::uint32_t>(in.U16()) + 1;
    const std::uint32_t address = static_cast<std::uint32_t>(in.U16()) + 1;
    return {line, address, named};
  }
  const std::uint32_t address_field = v >> 16;
  return {(v & 0xFFFF) + 1, address_field == kNoAddressStep ? 0 : address_field + 1, named};
}

bool CanWriteLineStep(const LineStep& step, std::uint16_t block_version) {
  if (step.Line < 1 || step.Line > kMaxLineStep || step.Address > kMaxAddressStep) return false;
  // Address steps up to 0xFFF fit the four-byte form's 12-bit field (whose
  // all-ones value stands for a step of 0).
  if (step.Address <= kNoAddressStep) {
    // The plain four-byte form, unless it would read as the escape.
    const bool is_escape = step.Line - 1 == 0xFFFE && step.Address == kNoAddressStep;
    if (!(is_escape && HasEscape(block_version))) return true;
  }
  return HasEscape(block_version);
}

void WriteLineStep(std::vector<std::uint8_t>& out, const LineStep& step, std::uint16_t block_version) {
  if (!CanWriteLineStep(step, block_version)) throw EDebugDataError("line step cannot be encoded");
  const std::uint32_t l = step.Line - 1;
  const std::uint32_t named = step.Named ? 4 : 0;
  if (step.Address >= 1) {
    const std::uint32_t a = step.Address - 1;
    if (!step.Named && l < 4 && a < 32) {
      out.push_back(static_cast<std::uint8_t>(l << 6 | a << 1));
      return;
    }
    if (step.Named && l < 8 && a < 8) {
      out.push_back(static_cast<std::uint8_t>(l << 5 | a << 2 | 1));
      return;
    }
    if (l < 32 && a < 128) {
      AppendU16(out, static_cast<std::uint16_t>(l << 11 | a << 4 | named | 3));
      return;
    }
  }
  const std::uint32_t address_field = step.Address == 0 ? kNoAddressStep : step.Address - 1;
  const std::uint32_t v = address_field << 16 | l;
  if (step.Address <= kNoAddressStep && !(v == kEscape && HasEscape(block_version))) {
    AppendU32(out, v << 4 | 8 | named | 3);
    return;
  }
  AppendU32(out, kEscape << 4 | 8 | named | 3);
  AppendU16(out, static_cast<std::uint16_t>(l));
  AppendU16(out, static_cast<std::uint16_t>(step.Address - 1));
}

}  // namespace vellum::exceptlog
