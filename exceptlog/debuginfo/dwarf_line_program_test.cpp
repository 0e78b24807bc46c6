#include "exceptlog/debuginfo/dwarf_line_program.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A DWARF 4 line-number program written out by hand, opcode by opcode (the
// numbers as the standard gives them): line base -5, line range 14, opcode
// base 13, so that special opcodes and DW_LNS_const_add_pc move by known
// amounts. The sequence starts at `start`, set with an operand of
// `address_size` bytes.
Bytes LineTable(std::uint64_t start = 0x401000, unsigned address_size = 4) {
  // clang-format off
  const Bytes header_rest = {
      1, 1, 1, static_cast<std::uint8_t>(-5), 14, 13,  // min length, max ops, is_stmt, line base/range, opcode base
      0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1,              // operands of opcodes 1..12
      's', 'r', 'c', 0, 0,                             // include_directories
      'a', '.', 'c', 'p', 'p', 0, 1, 0, 0,             // file 1 in directory 1
      'b', '.', 'c', 'p', 'p', 0, 0, 0, 0, 0,          // file 2 in the unit's directory; end of files
  };
  Bytes program = {0x00, static_cast<std::uint8_t>(1 + address_size), 0x02};  // DW_LNE_set_address
  for (unsigned i = 0; i < address_size; ++i) program.push_back(static_cast<std::uint8_t>(start >> (8 * i)));
  program.insert(program.end(), {
      0x03, 9,                                // DW_LNS_advance_line +9: line 10
      0x01,                                   // DW_LNS_copy
      (1 + 5) + 14 * 3 + 13,                  // special: address +3, line +1
      0x08,                                   // DW_LNS_const_add_pc: +(255 - 13) / 14 = 17
      0x09, 0x10, 0x00,                       // DW_LNS_fixed_advance_pc +0x10
      0x04, 2,                                // DW_LNS_set_file 2
      0x05, 7, 0x06, 0x07, 0x0A, 0x0B,        // column, negate_stmt, basic_block, prologue/epilogue
      0x02, 4,                                // DW_LNS_advance_pc +4
      0x01,                                   // DW_LNS_copy
      0x0C, 1,                                // DW_LNS_set_isa, skipped by its operand count
      0x00, 1, 0x01,                          // DW_LNE_end_sequence
  });
  // clang-format on
  Bytes table = {0, 0, 0, 0, 4, 0};  // unit length (below), version 4
  const auto header_length = static_cast<std::uint32_t>(header_rest.size());
  for (int i = 0; i < 4; ++i) table.push_back(static_cast<std::uint8_t>(header_length >> (8 * i)));
  table.insert(table.end(), header_rest.begin(), header_rest.end());
  table.insert(table.end(), program.begin(), program.end());
  table[0] = static_cast<std::uint8_t>(table.size() - 4);
  return table;
}

DwarfSections LineOnly(const Bytes& line) {
  DwarfSections sections;
  sections.Line = line;
  return sections;
}

TEST(DwarfLineProgram, EveryStandardOpcodeMovesTheRowsAsTheStandardSays) {
  const Bytes table = LineTable();
  const LineProgram program = ReadLineProgram(LineOnly(table), 0, 4, "/comp");
  EXPECT_EQ(program.Files, (std::vector<std::string>{"", "/comp/src/a.cpp", "/comp/b.cpp"}));
  ASSERT_EQ(program.Sequences.size(), 1u);
  const auto& rows = program.Sequences[0];
  ASSERT_EQ(rows.size(), 4u);
  const auto row = [](std::uint32_t address, std::uint32_t file, std::uint32_t line, bool end) {
    return std::make_tuple(address, file, line, end);
  };
  const auto as_tuple = [](const DwarfLineRow& r) { return std::make_tuple(r.Address, r.File, r.Line, r.EndSequence); };
  EXPECT_EQ(as_tuple(rows[0]), row(0x401000, 1, 10, false));
  EXPECT_EQ(as_tuple(rows[1]), row(0x401003, 1, 11, false));
  EXPECT_EQ(as_tuple(rows[2]), row(0x401003 + 17 + 0x10 + 4, 2, 11, false));
  EXPECT_EQ(as_tuple(rows[3]), row(0x401003 + 17 + 0x10 + 4, 2, 11, true));
}

// The x86-64 compiler's units have 8-byte addresses, and a module's base may
// lie above 4 GB; a 4-byte unit's addresses wrap as the machine's do.
TEST(DwarfLineProgram, AddressesKeepTheUnitsWidth) {
  const std::uint64_t high = 0x180001000;
  const LineProgram wide = ReadLineProgram(LineOnly(LineTable(high, 8)), 0, 8, "/comp");
  ASSERT_EQ(wide.Sequences.size(), 1u);
  ASSERT_EQ(wide.Sequences[0].size(), 4u);
  EXPECT_EQ(wide.Sequences[0][0].Address, high);
  EXPECT_EQ(wide.Sequences[0][3].Address, high + 3 + 17 + 0x10 + 4);

  const LineProgram narrow = ReadLineProgram(LineOnly(LineTable(0xFFFFFFFE, 4)), 0, 4, "/comp");
  EXPECT_EQ(narrow.Sequences[0][1].Address, 1u) << "0xFFFFFFFE + 3 in 32 bits";
}

TEST(DwarfLineProgram, ACutTableRaisesTheDwarfError) {
  const Bytes table = LineTable();
  for (std::size_t size = 0; size < table.size(); ++size) {
    const Bytes cut(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_THROW(ReadLineProgram(LineOnly(cut), 0, 4, ""), EDwarfError) << size;
  }
  EXPECT_THROW(ReadLineProgram(LineOnly(table), table.size() + 1, 4, ""), EDwarfError);
}

// A DWARF 5 header whose directory entries have no fields claims any number
// of them for free: a few bytes must not become gigabytes of paths.
TEST(DwarfLineProgram, AHeaderClaimingEntriesItCannotHoldRaisesTheDwarfError) {
  const auto table = [](const Bytes& lists) {
    Bytes header_rest = {1, 1, 1, static_cast<std::uint8_t>(-5), 14, 1};  // opcode base 1: no operand list
    header_rest.insert(header_rest.end(), lists.begin(), lists.end());
    Bytes bytes = {0, 0, 0, 0, 5, 0, 8, 0};  // unit length (below), version 5, address size 8
    const auto header_length = static_cast<std::uint32_t>(header_rest.size());
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(header_length >> (8 * i)));
    bytes.insert(bytes.end(), header_rest.begin(), header_rest.end());
    bytes[0] = static_cast<std::uint8_t>(bytes.size() - 4);
    return bytes;
  };
  // No fields, 2^32 - 1 directories.
  EXPECT_THROW(ReadLineProgram(LineOnly(table({0, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})), 0, 8, ""), EDwarfError);
  // A path field (DW_LNCT_path as DW_FORM_string), but more entries than any unit has.
  EXPECT_THROW(ReadLineProgram(LineOnly(table({1, 1, 0x08, 0xFF, 0xFF, 0x03, 'a', 0})), 0, 8, ""), EDwarfError);
  // Empty lists are a header like any other.
  EXPECT_NO_THROW(ReadLineProgram(LineOnly(table({0, 0, 0, 0})), 0, 8, "/comp"));
}

}  // namespace
}  // namespace vellum::exceptlog
