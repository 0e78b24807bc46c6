// The numbered symbol table of a module's stored block: procedures that hooks
// need but that are not exported are found by number. The table sits after
// the block's header: a 4-byte length, then 9-byte entries of number (1
// byte), code offset (4 bytes, counted from the module's handle + 0x1000) and
// procedure size (4 bytes), all little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vellum::exceptlog {

// The first word of a stored block, and of its password check.
inline constexpr std::uint32_t kStoredBlockMagic = 0x000FAB10;
// Blocks written before this version carry no symbol table.
inline constexpr std::uint16_t kFirstVersionWithSymbols = 500;
// Code offsets count from the start of the first section.
inline constexpr std::uint32_t kCodeOffsetBase = 0x1000;

struct NumberedSymbol {
  std::uint8_t number = 0;
  std::uint32_t code_offset = 0;
  std::uint32_t size = 0;
};

// The entries of the table in `block` (the stored block from its magic on).
// A block that is too short, carries another magic, predates the table or
// declares a table longer than itself yields none; a trailing partial entry
// is ignored.
std::vector<NumberedSymbol> ReadNumberedSymbols(std::span<const std::uint8_t> block);

// The first entry with `number`.
std::optional<NumberedSymbol> FindNumberedSymbol(std::span<const std::uint8_t> block, std::uint8_t number);

// The table's entries as the stored block carries them (without its length):
// the writing side, for the build tool and the tests.
std::vector<std::uint8_t> WriteNumberedSymbols(std::span<const NumberedSymbol> symbols);

// "SymbolID = <number>": what hook errors name a numbered procedure by.
std::string SymbolDescription(unsigned number);

}  // namespace vellum::exceptlog
