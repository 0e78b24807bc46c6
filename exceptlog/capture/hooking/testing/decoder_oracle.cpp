#include "exceptlog/capture/hooking/testing/decoder_oracle.h"

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
bool IsWaitMerge(std::span<const std::uint8_t> code, std::size_t listed_length) {
  std::size_t offset = 0;
  while (offset < listed_length) {
    const DecodedInstruction decoded = DecodeInstruction(code.subspan(offset));
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

}  // namespace

// A listing line is "<address>:\t<bytes>\t<instruction>"; an instruction too
// long for one line continues on lines with address and bytes only.
void DisassemblyListing::AddLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
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

OracleReport CompareWithListing(const DisassemblyListing& listing, std::size_t max_examples) {
  OracleReport report;
  for (const ListedRun& run : listing.runs()) {
    const std::span<const std::uint8_t> all(run.bytes);
    for (const ListedInstruction& listed : run.instructions) {
      ++report.listed;
      // "(bad)", alone or after prefixes: bytes the reference cannot decode;
      // ".byte": it stopped at a
      // symbol or section end and lists the remaining bytes as data.
      if (listed.text.find("(bad)") != std::string::npos || listed.text.starts_with(".")) {
        ++report.skipped_bad;
        continue;
      }
      const auto here = all.subspan(listed.offset);
      const DecodedInstruction decoded = DecodeInstruction(here);
      const bool same = decoded.ok() && decoded.length == listed.length;
      if (!same && IsWaitPrefixQuirk(here.first(std::min(here.size(), listed.length)))) {
        ++report.skipped_bad;
        continue;
      }
      ++report.compared;
      if (same) {
        ++report.agreed;
        continue;
      }
      if (IsWaitMerge(here, listed.length)) {
        ++report.agreed;
        ++report.wait_merged;
        continue;
      }
      ++report.mismatches;
      if (report.examples.size() < max_examples) {
        char head[96];
        std::snprintf(head, sizeof head,
                      "%08llx: listed %zu, decoded %u%s: ", static_cast<unsigned long long>(run.start + listed.offset),
                      listed.length, static_cast<unsigned>(decoded.length),
                      decoded.status == DecodeStatus::kOk        ? ""
                      : decoded.status == DecodeStatus::kInvalid ? " (invalid)"
                                                                 : " (truncated)");
        const std::size_t shown = std::min<std::size_t>(here.size(), std::max<std::size_t>(listed.length, 16));
        report.examples.push_back(head + HexBytes(here.first(shown)) + " | " + listed.text);
      }
    }
  }
  return report;
}

}  // namespace vellum::exceptlog
