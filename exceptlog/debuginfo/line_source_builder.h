// Turns what the DWARF says about a linked module into the line-table
// writer's input: every piece of code with a line gets the source file's
// name as its unit and the innermost function (inlined or not) as its
// procedure, the way a debugger names the place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/debuginfo/dwarf_reader.h"

namespace vellum::exceptlog {

// Absolute addresses at the preferred base (above 4 GB for many 64-bit
// modules); the code offsets written from them stay 32-bit, as every image
// is smaller than 4 GB.
struct CodeBounds {
  std::uint64_t ImageBase = 0;
  std::uint64_t Low = 0;   // absolute address of the first code byte
  std::uint64_t High = 0;  // one past the last
};

// Code outside `bounds` (line rows and functions of code the linker threw
// away sit at address 0) is left out. `bounds.Low` must not lie below
// `bounds.ImageBase + 0x1000`, nor `bounds.High` 4 GB past it: code offsets
// are 32-bit.
LineTableSource BuildLineTableSource(const DwarfInfo& dwarf, const CodeBounds& bounds);

// The entry part (not a cold part) of the out-of-line copy of the function
// with `qualified_name` (the largest, when there are overloads) as a
// numbered-symbol entry.
std::optional<exceptlog::NumberedSymbol> FindNumberedFunction(const DwarfInfo& dwarf, const CodeBounds& bounds,
                                                              const std::string& qualified_name, std::uint8_t number);

// "a/b/c.cpp" -> "c.cpp"
std::string BaseFileName(const std::string& path);

}  // namespace vellum::exceptlog
