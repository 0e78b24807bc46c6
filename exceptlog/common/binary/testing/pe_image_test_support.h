// A small 32-bit PE image laid out in memory the way the loader leaves it,
// with a code section and an export directory, for tests of the header and
// export readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog::testing {

struct FakeExport {
  std::string name;
  std::uint32_t rva = 0;
};

struct FakeImageLayout {
  std::uint32_t base = 0x10000000;
  bool dll = true;
  std::uint32_t code_rva = 0x1000;
  std::uint32_t code_size = 0x1000;
  std::uint32_t export_rva = 0x2000;  // in the second section
  std::uint32_t export_section_size = 0x1000;
  std::uint32_t size_of_image = 0x3000;
};

inline constexpr std::uint32_t kFakeNtHeaders = 0x80;

// Writes headers, two sections and the export directory; answers the
// absolute address of the export directory.
inline std::uint32_t WriteFakeImage(FakeMemory& memory, const FakeImageLayout& layout,
                                    const std::vector<FakeExport>& exports) {
  const std::uint32_t base = layout.base;
  memory.Map(base, layout.size_of_image);
  memory.Write(base, {'M', 'Z'});
  memory.Write32(base + 0x3C, kFakeNtHeaders);
  const std::uint32_t nt = base + kFakeNtHeaders;
  memory.Write(nt, {'P', 'E', 0, 0});
  memory.Write(nt + 4, {0x4C, 0x01, 2, 0});  // i386, two sections
  memory.Write(nt + 4 + 16, {0xE0, 0x00});   // optional header size
  memory.Write(nt + 4 + 18, {0x02, static_cast<std::uint8_t>(layout.dll ? 0x21 : 0x01)});
  const std::uint32_t optional = nt + 24;
  memory.Write(optional, {0x0B, 0x01});
  memory.Write32(optional + 4, layout.code_size);
  memory.Write32(optional + 20, layout.code_rva);
  memory.Write32(optional + 56, layout.size_of_image);
  memory.Write32(optional + 92, 16);
  memory.Write32(optional + 96, layout.export_rva);
  memory.Write32(optional + 100, 0x100);
  const std::uint32_t sections = optional + 0xE0;
  memory.Write32(sections + 8, layout.code_size);
  memory.Write32(sections + 12, layout.code_rva);
  memory.Write32(sections + 40 + 8, layout.export_section_size);
  memory.Write32(sections + 40 + 12, 0x2000);

  // Directory, then the three arrays, then the names.
  const std::uint32_t directory = base + layout.export_rva;
  const auto count = static_cast<std::uint32_t>(exports.size());
  const std::uint32_t functions = layout.export_rva + 40;
  const std::uint32_t names = functions + count * 4;
  const std::uint32_t ordinals = names + count * 4;
  std::uint32_t text = ordinals + count * 2;
  memory.Write32(directory + 20, count);
  memory.Write32(directory + 24, count);
  memory.Write32(directory + 28, functions);
  memory.Write32(directory + 32, names);
  memory.Write32(directory + 36, ordinals);
  for (std::uint32_t i = 0; i < count; ++i) {
    memory.Write32(base + functions + i * 4, exports[i].rva);
    memory.Write32(base + names + i * 4, text);
    memory.Write(base + ordinals + i * 2, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
    std::vector<std::uint8_t> bytes(exports[i].name.begin(), exports[i].name.end());
    bytes.push_back(0);
    memory.Write(base + text, bytes);
    text += static_cast<std::uint32_t>(bytes.size());
  }
  return directory;
}

}  // namespace vellum::exceptlog::testing
