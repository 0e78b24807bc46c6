// What the build tool needs of a module's DWARF: the line rows of every
// sequence and every piece of code that belongs to a function, inlined or
// not, with the function's name, class and first line. Reads versions 2 to 5
// of .debug_info, .debug_abbrev, .debug_line and their string, address and
// range sections, as the section bytes of a PE file hold them. Every read is
// bounds-checked: damaged debug information raises EDwarfError.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EDwarfError, Exception);

struct DwarfSections {
  std::span<const std::uint8_t> Info, Abbrev, Line, Str, LineStr, Ranges, RngLists, Addr, StrOffsets;
};

inline constexpr std::uint32_t kNoDwarfFile = 0xFFFFFFFF;

// Addresses are absolute, at the preferred base: 64-bit modules may sit above
// 4 GB.
struct DwarfLineRow {
  std::uint64_t Address = 0;
  std::uint32_t File = 0;  // index into DwarfInfo::Files, or kNoDwarfFile
  std::uint32_t Line = 0;
  bool EndSequence = false;
};

struct DwarfFunction {
  std::string Name;           // as declared: "HandleException", "~TForm", "operator()"
  std::string ClassName;      // innermost enclosing class ("Outer::Inner" when nested); empty for free functions
  std::string QualifiedName;  // namespaces and classes too: "vellum::gui::TApplication::HandleException"
  std::uint32_t DeclLine = 0;
};

struct DwarfCodeRange {
  std::uint64_t Low = 0;  // absolute addresses at the preferred base
  std::uint64_t High = 0;
  std::uint32_t Function = 0;  // index into DwarfInfo::Functions
  std::uint32_t Depth = 0;     // inlined code nests deeper than the function it is inlined into
  bool Inlined = false;
  bool Entry = false;  // the first range listed: where the code is entered (later ones are cold parts)
};

struct DwarfInfo {
  std::vector<std::string> Files;  // full paths as the line tables give them
  std::vector<std::vector<DwarfLineRow>> Sequences;
  std::vector<DwarfFunction> Functions;
  std::vector<DwarfCodeRange> CodeRanges;
};

DwarfInfo ReadDwarf(const DwarfSections& sections);

}  // namespace vellum::exceptlog
