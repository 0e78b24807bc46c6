#include "exceptlog/capture/hooking/testing/decoder_oracle.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "exceptlog/capture/hooking/instruction_decoder.h"

namespace vellum::exceptlog {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseAddress(std::string_view text, std::uint64_t& address) {
  if (text.empty() || text.size() > 16) return false;
  address = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    address = address * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

// "8b 44 24 04 " -> bytes; false when anything else is in the field.
bool ParseBytes(std::string_view field, std::vector<std::uint8_t>& bytes) {
  std::size_t i = 0;
  while (i < field.size()) {
    if (field[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= field.size()) return false;
    const int high = HexDigit(field[i]);
    const int low = HexDigit(field[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    i += 2;
  }
  return !bytes.empty();
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  char digits[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x ", b);
    text += digits;
  }
  return text;
}

bool IsLegacyPrefix(std::uint8_t byte) {
  switch (byte) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67:
    case 0xF0:
    case 0xF2:
    case 0xF3: return true;
    default: return false;
  }
}

// The reference glues WAIT (0x9B), with any prefixes around it, to the x87
// instruction after it (FSTSW is WAIT + FNSTSW). The decoder sees separate
// instructions, which is what the processor does; both agree where they end.
bool IsWaitMerge(std::span<const std::uint8_t> code, std::size_t listed_length, CodeMode mode) {
  std::size_t offset = 0;
  while (offset < listed_length) {
    const DecodedInstruction decoded = DecodeInstruction(code.subspan(offset), mode);
    if (!decoded.ok()) return false;
    offset += decoded.length;
    if (offset < listed_length && code[offset - 1] != 0x9B) return false;
    if (offset == listed_length) return decoded.length != listed_length;
  }
  return false;
}

// Where the reference's WAIT gluing goes wrong: it lists a WAIT followed by
// a stray prefix as one instruction, and it applies a size prefix written
// before a WAIT to the x87 instruction after it. The processor gives such a
// prefix to the instruction it precedes. Only random bytes look like this.
bool IsWaitPrefixQuirk(std::span<const std::uint8_t> listed) {
  bool wait = false;
  bool size_prefix_before_wait = false;
  bool size_prefix = false;
  for (std::uint8_t byte : listed) {
    if (byte == 0x9B) {
      wait = true;
      size_prefix_before_wait = size_prefix_before_wait || size_prefix;
    } else if (IsLegacyPrefix(byte)) {
      size_prefix = size_prefix || byte == 0x66 || byte == 0x67;
    } else {
      return size_prefix_before_wait;  // an opcode: only the carried size prefix is a quirk
    }
  }
  return wait;
}

bool IsRex(std::uint8_t byte) {
  return (byte & 0xF0) == 0x40;
}

// Prefixes ending in a REX that the reference lists as an instruction of their
// own ("rex.W", "lock rex.RXB") because another prefix follows the REX.
bool IsLoneRex(const ListedRun& run, const ListedInstruction& listed, CodeMode mode) {
  if (mode != CodeMode::k64) return false;
  const auto bytes = std::span(run.bytes).subspan(listed.offset, listed.length);
  return IsRex(bytes.back()) &&
         std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return IsRex(b) || IsLegacyPrefix(b); });
}

// Where the instruction that starts with the lone REX prefixes at `index`
// ends for the reference: after the first listed instruction that is not one;
// 0 when that one is undecodable for the reference too.
std::size_t EndAfterLoneRex(const ListedRun& run, std::size_t index, CodeMode mode) {
  const std::size_t start = run.instructions[index].offset;
  while (index < run.instructions.size() && IsLoneRex(run, run.instructions[index], mode)) ++index;
  if (index == run.instructions.size()) return 0;
  const ListedInstruction& next = run.instructions[index];
  if (next.text.find("(bad)") != std::string::npos || next.text.starts_with(".")) return 0;
  return next.offset + next.length - start;
}

// The target the reference prints after "#" for an operand relative to the
// instruction pointer ("# 7b631000 <.rodata>", "# 0x4030207").
bool ListedTarget(std::string_view text, std::uint64_t& target) {
  const std::size_t hash = text.rfind("# ");
  if (hash == std::string_view::npos) return false;
  std::string_view digits = text.substr(hash + 2);
  if (digits.starts_with("0x")) digits.remove_prefix(2);
  return ParseAddress(digits.substr(0, digits.find(' ')), target);
}

// An instruction both measure the same must also agree on its operand
// relative to the instruction pointer, which a trampoline re-targets: the
// decoder finds one exactly where the reference prints "(%rip)" or "(%eip)",
// and the displacement it points at leads where the reference says. Answers
// what is wrong, or nothing.
std::string RipRelativeDisagreement(std::uint64_t address, const ListedInstruction& listed,
                                    const DecodedInstruction& decoded, std::span<const std::uint8_t> here) {
  const bool eip = listed.text.find("(%eip)") != std::string::npos;
  const bool listed_relative = eip || listed.text.find("(%rip)") != std::string::npos;
  if (listed_relative != decoded.rip_relative) {
    return decoded.rip_relative ? "decoded RIP-relative" : "not decoded RIP-relative";
  }
  std::uint64_t listed_target = 0;
  if (!decoded.rip_relative || !ListedTarget(listed.text, listed_target)) return {};
  const std::size_t at = decoded.rip_displacement_offset;
  if (at + 4 > decoded.length) return "RIP-relative displacement past the end";
  const auto displacement = static_cast<std::int32_t>(here[at] | here[at + 1] << 8 | here[at + 2] << 16 |
                                                      static_cast<std::uint32_t>(here[at + 3]) << 24);
  std::uint64_t target = address + decoded.length + static_cast<std::uint64_t>(static_cast<std::int64_t>(displacement));
  if (eip) {  // a 32-bit address, which the reference prints sign-extended
    target &= 0xFFFFFFFFu;
    listed_target &= 0xFFFFFFFFu;
  }
  if (target == listed_target) return {};
  char text[96];
  std::snprintf(text, sizeof text, "the displacement at byte %zu leads to %llx", at,
                static_cast<unsigned long long>(target));
  return text;
}

std::string Mismatch(const ListedRun& run, const ListedInstruction& listed, const DecodedInstruction& decoded,
                     std::span<const std::uint8_t> here, std::string_view reason = {}) {
  char head[96];
  std::snprintf(head, sizeof head,
                "%08llx: listed %zu, decoded %u%s: ", static_cast<unsigned long long>(run.start + listed.offset),
                listed.length, static_cast<unsigned>(decoded.length),
                decoded.status == DecodeStatus::kOk        ? ""
                : decoded.status == DecodeStatus::kInvalid ? " (invalid)"
                                                           : " (truncated)");
  if (!reason.empty())
    return head + std::string(reason) + ": " + HexBytes(here.first(listed.length)) + " | " + listed.text;
  const std::size_t shown = std::min<std::size_t>(here.size(), std::max<std::size_t>(listed.length, 16));
  return head + HexBytes(here.first(shown)) + " | " + listed.text;
}

}  // namespace

// A listing line is "<address>:\t<bytes>\t<instruction>"; an instruction too
// long for one line continues on lines with address and bytes only.
void DisassemblyListing::AddLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  constexpr std::string_view kFormat = "file format ";
  if (const std::size_t format = line.find(kFormat); format != std::string_view::npos && format_.empty()) {
    format_ = std::string(line.substr(format + kFormat.size()));
    return;
  }
  const std::size_t first = line.find_first_not_of(' ');
  const std::size_t colon = line.find(":\t");
  if (first == std::string_view::npos || colon == std::string_view::npos || colon < first) return;
  std::uint64_t address = 0;
  if (!ParseAddress(line.substr(first, colon - first), address)) return;

  const std::string_view rest = line.substr(colon + 2);
  const std::size_t tab = rest.find('\t');
  const std::string_view byte_field = rest.substr(0, tab);
  std::vector<std::uint8_t> bytes;
  if (!ParseBytes(byte_field, bytes)) return;

  const bool continuation = tab == std::string_view::npos;
  if (continuation) {
    if (runs_.empty() || runs_.back().instructions.empty() || address != next_address_) return;
    runs_.back().instructions.back().length += bytes.size();
  } else {
    if (runs_.empty() || address != next_address_) {
      runs_.push_back({});
      runs_.back().start = address;
    }
    ListedRun& run = runs_.back();
    run.instructions.push_back({run.bytes.size(), bytes.size(), std::string(rest.substr(tab + 1))});
  }
  runs_.back().bytes.insert(runs_.back().bytes.end(), bytes.begin(), bytes.end());
  next_address_ = address + bytes.size();
}

OracleReport CompareWithListing(const DisassemblyListing& listing, CodeMode mode, std::size_t max_examples) {
  OracleReport report;
  for (const ListedRun& run : listing.runs()) {
    const std::span<const std::uint8_t> all(run.bytes);
    for (std::size_t index = 0; index < run.instructions.size(); ++index) {
      const ListedInstruction& listed = run.instructions[index];
      ++report.listed;
      // "(bad)", alone or after prefixes: bytes the reference cannot decode;
      // ".byte": it stopped at a
      // symbol or section end and lists the remaining bytes as data.
      if (listed.text.find("(bad)") != std::string::npos || listed.text.starts_with(".")) {
        ++report.skipped_bad;
        continue;
      }
      const auto here = all.subspan(listed.offset);
      const DecodedInstruction decoded = DecodeInstruction(here, mode);
      std::size_t expected = listed.length;
      const bool lone_rex = IsLoneRex(run, listed, mode);
      if (lone_rex) {
        expected = EndAfterLoneRex(run, index, mode);
        if (expected == 0) {
          ++report.skipped_bad;
          continue;
        }
      }
      const bool same = decoded.ok() && decoded.length == expected;
      if (!same && IsWaitPrefixQuirk(here.first(std::min(here.size(), listed.length)))) {
        ++report.skipped_bad;
        continue;
      }
      ++report.compared;
      if (same && mode == CodeMode::k64 && !lone_rex) {
        const std::string wrong = RipRelativeDisagreement(run.start + listed.offset, listed, decoded, here);
        if (!wrong.empty()) {
          ++report.mismatches;
          if (report.examples.size() < max_examples) {
            report.examples.push_back(Mismatch(run, listed, decoded, here, wrong));
          }
          continue;
        }
        if (decoded.rip_relative) ++report.rip_relative;
      }
      if (same) {
        ++report.agreed;
        if (lone_rex) ++report.rex_merged;
        continue;
      }
      if (IsWaitMerge(here, expected, mode)) {
        ++report.agreed;
        ++report.wait_merged;
        continue;
      }
      ++report.mismatches;
      if (report.examples.size() < max_examples) report.examples.push_back(Mismatch(run, listed, decoded, here));
    }
  }
  return report;
}

}  // namespace vellum::exceptlog
