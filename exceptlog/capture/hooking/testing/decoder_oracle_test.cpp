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

  const OracleReport report = CompareWithListing(listing);
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
  const OracleReport report = CompareWithListing(listing);
  EXPECT_EQ(report.compared, 2u);
  EXPECT_EQ(report.mismatches, 1u);
  ASSERT_EQ(report.examples.size(), 1u);
  EXPECT_NE(report.examples[0].find("listed 3, decoded 2"), std::string::npos) << report.examples[0];
  EXPECT_EQ(CompareWithListing(Parse("no instructions here\n")).compared, 0u);
}

}  // namespace
}  // namespace vellum::exceptlog
