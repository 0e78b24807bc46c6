#include "exceptlog/capture/debugdata/symbol_table.h"

#include <cstddef>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

// Magic (4), BlockVersion (2), CompileDate (8).
constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kEntrySize = 9;

using exceptlog::LoadU16;
using exceptlog::LoadU32;

std::span<const std::uint8_t> TableBytes(std::span<const std::uint8_t> block) {
  if (block.size() < kHeaderSize + 4 || LoadU32(&block[0]) != kStoredBlockMagic) return {};
  if (LoadU16(&block[4]) < kFirstVersionWithSymbols) return {};
  const std::uint32_t length = LoadU32(&block[kHeaderSize]);
  const auto table = block.subspan(kHeaderSize + 4);
  if (length > table.size()) return {};
  return table.first(length);
}

}  // namespace

std::vector<NumberedSymbol> ReadNumberedSymbols(std::span<const std::uint8_t> block) {
  const auto table = TableBytes(block);
  std::vector<NumberedSymbol> symbols;
  symbols.reserve(table.size() / kEntrySize);
  for (std::size_t at = 0; at + kEntrySize <= table.size(); at += kEntrySize) {
    symbols.push_back({table[at], LoadU32(&table[at + 1]), LoadU32(&table[at + 5])});
  }
  return symbols;
}

std::optional<NumberedSymbol> FindNumberedSymbol(std::span<const std::uint8_t> block, std::uint8_t number) {
  for (const NumberedSymbol& symbol : ReadNumberedSymbols(block)) {
    if (symbol.number == number) return symbol;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> WriteNumberedSymbols(std::span<const NumberedSymbol> symbols) {
  std::vector<std::uint8_t> out;
  for (const NumberedSymbol& symbol : symbols) {
    out.push_back(symbol.number);
    exceptlog::AppendU32(out, symbol.code_offset);
    exceptlog::AppendU32(out, symbol.size);
  }
  return out;
}

std::string SymbolDescription(unsigned number) {
  return "SymbolID = " + std::to_string(number);
}

}  // namespace vellum::exceptlog
