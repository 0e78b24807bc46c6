// Any bytes as a module's DWARF: the first bytes say how the rest is cut
// into .debug_info, .debug_abbrev, .debug_line and the string and range
// sections; reading must raise EDwarfError or succeed, never fail otherwise.
#include <cstddef>
#include <cstdint>

#include "exceptlog/debuginfo/dwarf_reader.h"
#include "exceptlog/debuginfo/line_source_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::span<const std::uint8_t> rest(data + 8, size - 8);
  std::span<const std::uint8_t> parts[8];
  for (int i = 0; i < 8; ++i) {
    const std::size_t length = std::min<std::size_t>(rest.size(), data[i] * 4u);
    parts[i] = rest.first(i == 7 ? rest.size() : length);
    rest = rest.subspan(parts[i].size());
  }
  const vellum::exceptlog::DwarfSections sections{parts[0], parts[1], parts[2], parts[3], parts[4],
                                                  parts[5], parts[6], parts[7], {}};
  try {
    const auto dwarf = vellum::exceptlog::ReadDwarf(sections);
    // Bounds as a module's: the code above the headers, at a base below and above 4 GB.
    vellum::exceptlog::BuildLineTableSource(dwarf, {0, 0x1000, 0xFFFFFFF0u});
    vellum::exceptlog::BuildLineTableSource(dwarf, {0x180000000, 0x180001000, 0x1FFFFFFF0});
  } catch (const vellum::exceptlog::EDwarfError&) {
  }
  return 0;
}
