#include "exceptlog/capture/hooking/symbol_table.h"

#include <cstddef>

namespace vellum::hooking {
namespace {

// Magic (4), BlockVersion (2), CompileDate (8).
constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kEntrySize = 9;

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::span<const std::uint8_t> TableBytes(std::span<const std::uint8_t> block) {
  if (block.size() < kHeaderSize + 4 || Read32(block, 0) != kStoredBlockMagic) return {};
  const std::uint16_t version = static_cast<std::uint16_t>(block[4] | block[5] << 8);
  if (version < kFirstVersionWithSymbols) return {};
  const std::uint32_t length = Read32(block, kHeaderSize);
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
    symbols.push_back({table[at], Read32(table, at + 1), Read32(table, at + 5)});
  }
  return symbols;
}

std::optional<NumberedSymbol> FindNumberedSymbol(std::span<const std::uint8_t> block, std::uint8_t number) {
  for (const NumberedSymbol& symbol : ReadNumberedSymbols(block)) {
    if (symbol.number == number) return symbol;
  }
  return std::nullopt;
}

std::string SymbolDescription(unsigned number) {
  return "SymbolID = " + std::to_string(number);
}

}  // namespace vellum::hooking
