#include "exceptlog/capture/hooking/testing/decoder_oracle.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vellum::exceptlog {
namespace {

DisassemblyListing Parse(const std::string& text) {
  DisassemblyListing listing;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) listing.AddLine(line);
  return listing;
}

// Shaped like objdump's own output: a long instruction continues on a line of
// its own, and a gap in the addresses starts a new run.
const char kListing[] =
    "\n"
    "kernel32.dll:     file format pei-i386\n"
    "\n"
    "Disassembly of section .text:\n"
    "\n"
    "7b601000 <_start>:\n"
    "7b601000:\t55                   \tpush   %ebp\n"
    "7b601001:\t89 e5                \tmov    %esp,%ebp\n"
    "7b601003:\tc7 44 24 04 0d 00 63 \tmovl   $0x7b63000d,0x4(%esp)\n"
    "7b60100a:\t7b \n"
    "7b60100b:\t9b dd 7d fe          \tfstsw  -0x2(%ebp)\n"
    "7b60100f:\tff                   \t(bad)\n"
    "7b601010:\tc3                   \tret\n"
    "\n"
    "7b602000 <_next>:\n"
    "7b602000:\te8 00 00 00 00       \tcall   7b602005 <_next+0x5>\n";

TEST(DecoderOracle, RebuildsRunsAndInstructionsFromTheListing) {
  const DisassemblyListing listing = Parse(kListing);
  ASSERT_EQ(listing.runs().size(), 2u);
  const ListedRun& first = listing.runs()[0];
  EXPECT_EQ(first.start, 0x7b601000u);
  EXPECT_EQ(first.bytes.size(), 0x11u);
  ASSERT_EQ(first.instructions.size(), 6u);
  EXPECT_EQ(first.instructions[2].offset, 3u);
  EXPECT_EQ(first.instructions[2].length, 8u) << "continuation line joined";
  EXPECT_EQ(first.instructions[3].text, "fstsw  -0x2(%ebp)");

  const OracleReport report = CompareWithListing(listing, CodeMode::k32);
  EXPECT_EQ(report.listed, 7u);
  EXPECT_EQ(report.skipped_bad, 1u);
  EXPECT_EQ(report.compared, 6u);
  EXPECT_EQ(report.agreed, 6u);
  EXPECT_EQ(report.wait_merged, 1u);
  EXPECT_EQ(report.mismatches, 0u);
}

TEST(DecoderOracle, ReportsADisagreement) {
  // The reference claims "mov %esp,%ebp" is three bytes long.
  const DisassemblyListing listing = Parse(
      "00001000:\t89 e5 90             \tmov    %esp,%ebp\n"
      "00001003:\tc3                   \tret\n");
  const OracleReport report = CompareWithListing(listing, CodeMode::k32);
  EXPECT_EQ(report.compared, 2u);
  EXPECT_EQ(report.mismatches, 1u);
  ASSERT_EQ(report.examples.size(), 1u);
  EXPECT_NE(report.examples[0].find("listed 3, decoded 2"), std::string::npos) << report.examples[0];
  EXPECT_EQ(CompareWithListing(Parse("no instructions here\n"), CodeMode::k32).compared, 0u);
}

TEST(DecoderOracle, In64BitCodeJoinsLoneRexPrefixesAndChecksRipRelativeTargets) {
  const DisassemblyListing listing = Parse(
      "kernel32.dll:     file format pei-x86-64\n"
      "7b601004:\t48 8d 0d f5 ff 02 00 \tlea    0x2fff5(%rip),%rcx        # 7b631000 <.rodata>\n"
      "7b60100b:\t48                   \trex.W\n"
      "7b60100c:\t66 b8 01 02          \tmov    $0x201,%ax\n"
      "7b601010:\t67 8b 05 f0 ff ff ff \tmov    -0x10(%eip),%eax        # 0xffffffff7b601007\n");
  EXPECT_EQ(listing.format(), "pei-x86-64");
  const OracleReport report = CompareWithListing(listing, CodeMode::k64);
  EXPECT_EQ(report.compared, 4u);
  EXPECT_EQ(report.agreed, 4u);
  EXPECT_EQ(report.rex_merged, 1u) << "the stray REX.W belongs to the MOV after it";
  EXPECT_EQ(report.rip_relative, 2u);
  EXPECT_EQ(report.mismatches, 0u) << ::testing::PrintToString(report.examples);

  // The reference's target is 0x10 further than the displacement leads.
  const OracleReport wrong = CompareWithListing(
      Parse("00001000:\t8b 05 00 00 00 00    \tmov    0x0(%rip),%eax        # 1016\n"), CodeMode::k64);
  EXPECT_EQ(wrong.mismatches, 1u);
  ASSERT_EQ(wrong.examples.size(), 1u);
  EXPECT_NE(wrong.examples[0].find("leads to 1006"), std::string::npos) << wrong.examples[0];
  // An operand relative to the instruction pointer the decoder does not see.
  EXPECT_EQ(
      CompareWithListing(Parse("00001000:\t8b 05 00 00 00 00    \tmov    0x0(%rip),%eax\n"), CodeMode::k32).mismatches,
      0u)
      << "32-bit code is compared by length only";
}

}  // namespace
}  // namespace vellum::exceptlog
