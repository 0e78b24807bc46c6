// Checks the instruction decoder against a reference disassembler: reads the
// listing that a GNU objdump -d -z prints for a 32-bit or 64-bit binary,
// rebuilds the bytes of each code section from it, and decodes every listed
// instruction at the listed address, comparing lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/capture/hooking/instruction_decoder.h"

namespace vellum::exceptlog {

struct ListedInstruction {
  std::size_t offset = 0;  // within its run
  std::size_t length = 0;
  std::string text;  // mnemonic and operands as listed
};

// Bytes listed at consecutive addresses, with the instructions found in them.
struct ListedRun {
  std::uint64_t start = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<ListedInstruction> instructions;
};

class DisassemblyListing {
 public:
  // Takes one line of the listing; lines that are no instruction are ignored.
  void AddLine(std::string_view line);
  const std::vector<ListedRun>& runs() const { return runs_; }
  // The reference's name for the file's format ("pei-i386", "pei-x86-64"),
  // empty when the listing does not say.
  const std::string& format() const { return format_; }

 private:
  std::vector<ListedRun> runs_;
  std::string format_;
  std::uint64_t next_address_ = 0;
};

struct OracleReport {
  std::size_t listed = 0;       // every instruction in the listing
  std::size_t skipped_bad = 0;  // bytes the reference lists as undecodable or as data
  std::size_t compared = 0;
  std::size_t agreed = 0;
  // WAIT (0x9B) that the reference prints as part of the x87 instruction
  // after it (FSTSW, FNINIT...): the decoder sees two instructions that end
  // at the same place, which is just as good for copying.
  std::size_t wait_merged = 0;
  // In 64-bit code a REX prefix that another prefix follows is ignored by
  // the processor but still belongs to the instruction; the reference lists
  // it as an instruction of its own. Counted where the decoder's instruction
  // ends with the reference's next one.
  std::size_t rex_merged = 0;
  // Agreed instructions whose operand relative to the instruction pointer
  // (64-bit code) the decoder also found, with the displacement the
  // reference's target needs.
  std::size_t rip_relative = 0;
  std::size_t mismatches = 0;
  std::vector<std::string> examples;  // the first few mismatches, printable
};

OracleReport CompareWithListing(const DisassemblyListing& listing, CodeMode mode, std::size_t max_examples = 40);

}  // namespace vellum::exceptlog
