#include "exceptlog/capture/debugdata/symbol_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum::exceptlog {
namespace {

void Put32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A stored block as the build tool writes it: header, then the table's length
// and entries, then whatever follows (options, check bytes).
std::vector<std::uint8_t> Block(std::uint16_t version, const std::vector<NumberedSymbol>& symbols,
                                std::uint32_t magic = kStoredBlockMagic) {
  std::vector<std::uint8_t> bytes;
  Put32(bytes, magic);
  bytes.push_back(static_cast<std::uint8_t>(version));
  bytes.push_back(static_cast<std::uint8_t>(version >> 8));
  bytes.insert(bytes.end(), 8, 0x40);  // compile date
  Put32(bytes, static_cast<std::uint32_t>(symbols.size() * 9));
  for (const NumberedSymbol& symbol : symbols) {
    bytes.push_back(symbol.number);
    Put32(bytes, symbol.code_offset);
    Put32(bytes, symbol.size);
  }
  Put32(bytes, 0);                  // options length
  Put32(bytes, kStoredBlockMagic);  // password check
  return bytes;
}

TEST(NumberedSymbolTable, FindsEntriesByNumber) {
  const auto block = Block(504, {{0, 0x1234, 0x80}, {1, 0x2000, 0x40}, {10, 0xABCDEF, 7}, {1, 0x9999, 1}});
  ASSERT_EQ(ReadNumberedSymbols(block).size(), 4u);
  const auto handle_exception = FindNumberedSymbol(block, 0);
  ASSERT_TRUE(handle_exception);
  EXPECT_EQ(handle_exception->code_offset, 0x1234u);
  EXPECT_EQ(handle_exception->size, 0x80u);
  EXPECT_EQ(FindNumberedSymbol(block, 10)->code_offset, 0xABCDEFu);
  EXPECT_EQ(FindNumberedSymbol(block, 1)->code_offset, 0x2000u) << "the first entry with a number wins";
  EXPECT_FALSE(FindNumberedSymbol(block, 5));
  EXPECT_TRUE(ReadNumberedSymbols(Block(500, {})).empty());
}

TEST(NumberedSymbolTable, ForeignOldOrDamagedBlocksHaveNoEntries) {
  EXPECT_TRUE(ReadNumberedSymbols(Block(499, {{0, 1, 2}})).empty()) << "older blocks carry no table";
  EXPECT_TRUE(ReadNumberedSymbols(Block(504, {{0, 1, 2}}, 0x000FAB11)).empty());
  EXPECT_TRUE(ReadNumberedSymbols({}).empty());

  auto block = Block(504, {{0, 1, 2}, {1, 3, 4}});
  // A declared length beyond the block's end.
  auto overlong = block;
  overlong.resize(14 + 4 + 10);
  EXPECT_TRUE(ReadNumberedSymbols(overlong).empty());
  // A length that is no multiple of 9: the partial entry is ignored.
  auto partial = block;
  partial[14] = 9 + 5;
  const auto symbols = ReadNumberedSymbols(partial);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].code_offset, 1u);
}

TEST(NumberedSymbolTable, DescribesAHookByItsNumber) {
  EXPECT_EQ(SymbolDescription(0), "SymbolID = 0");
  EXPECT_EQ(SymbolDescription(10), "SymbolID = 10");
}

}  // namespace
}  // namespace vellum::exceptlog
