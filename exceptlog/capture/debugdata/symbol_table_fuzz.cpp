// Any bytes as a stored block: the symbol table reader stays inside them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "exceptlog/capture/debugdata/symbol_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> block(data, size);
  const auto symbols = vellum::exceptlog::ReadNumberedSymbols(block);
  if (symbols.size() > size / 9) __builtin_trap();
  if (size > 0) (void)vellum::exceptlog::FindNumberedSymbol(block, data[size - 1]);
  return 0;
}
