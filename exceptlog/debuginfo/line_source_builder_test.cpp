#include "exceptlog/debuginfo/line_source_builder.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace vellum::exceptlog {
namespace {

// One function with a helper inlined into its middle, and rows of code the
// linker threw away at address 0, as the DWARF of a module at `base` says.
DwarfInfo FormAt(std::uint64_t base) {
  DwarfInfo dwarf;
  dwarf.Files = {"/src/app/form.cpp"};
  dwarf.Functions = {{"Paint", "TForm", "app::TForm::Paint", 10}, {"Helper", "", "app::Helper", 40}};
  const std::uint64_t code = base + 0x1000;
  dwarf.CodeRanges = {{code, code + 0x40, 0, 1, false, true},
                      {code + 0x10, code + 0x20, 1, 2, true, true},
                      {0, 0x30, 1, 1, false, true}};
  dwarf.Sequences = {{{code, 0, 11, false}, {code + 0x20, 0, 12, false}, {code + 0x40, 0, 12, true}},
                     {{0, 0, 50, false}, {0x30, 0, 50, true}}};
  return dwarf;
}

using RangeTuple = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;

std::vector<RangeTuple> Ranges(const LineTableSource& source) {
  std::vector<RangeTuple> ranges;
  for (const LineTableRange& r : source.Ranges) ranges.emplace_back(r.CodeOffset, r.Size, r.Line, r.Unit, r.Procedure);
  return ranges;
}

// The stored offsets count from the base + 0x1000 whatever the base: a
// 64-bit module above 4 GB gets the same block as one below.
TEST(LineSourceBuilder, TheInnermostFunctionNamesEachStretchAtAnyBase) {
  for (const std::uint64_t base : {std::uint64_t{0x6B400000}, std::uint64_t{0x180000000}}) {
    SCOPED_TRACE(base);
    const DwarfInfo dwarf = FormAt(base);
    const CodeBounds bounds{base, base + 0x1000, base + 0x1100};
    const LineTableSource source = BuildLineTableSource(dwarf, bounds);
    EXPECT_EQ(source.UnitNames, std::vector<std::string>{"form.cpp"});
    EXPECT_EQ(Ranges(source),
              (std::vector<RangeTuple>{{0x00, 0x10, 11, 0, 0}, {0x10, 0x10, 11, 0, 1}, {0x20, 0x20, 12, 0, 0}}));

    const auto symbol = FindNumberedFunction(dwarf, bounds, "app::TForm::Paint", 1);
    ASSERT_TRUE(symbol);
    EXPECT_EQ(symbol->number, 1u);
    EXPECT_EQ(symbol->code_offset, 0u);
    EXPECT_EQ(symbol->size, 0x40u);
    EXPECT_FALSE(FindNumberedFunction(dwarf, bounds, "app::Helper", 0)) << "only inlined copies";
  }
}

}  // namespace
}  // namespace vellum::exceptlog
