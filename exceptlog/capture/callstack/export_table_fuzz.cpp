// Module images from the fuzzer's bytes: the header and export readers must
// stay inside what is mapped and end quickly, whatever the counts and
// offsets say. Input starting with "MZ" is a whole image; any other input
// overwrites the export section and a few header fields of a valid image,
// so that the fuzzer spends its time on the export table. The same bytes
// also serve as a stack for the stack scan.
#include <cstddef>
#include <cstdint>

#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/binary/testing/fake_memory_test_support.h"
#include "exceptlog/common/binary/testing/pe_image_test_support.h"

namespace {

using namespace vellum::exceptlog;
constexpr std::uint32_t kBase = 0x10000000;

void CheckExports(const testing::FakeMemory& memory) {
  const TRuzadaFunctionsList functions = ReadExportedFunctions(memory, kBase);
  for (const TRuzadaFunctionInfo& function : functions) {
    if (function.Name.empty() || function.Name.size() > kMaxExportNameLength) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  testing::FakeMemory memory;
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
    memory.Map(kBase, static_cast<std::uint32_t>(size)).assign(data, data + size);
  } else {
    const std::uint32_t nt = kBase + testing::kFakeNtHeaders;
    testing::WriteFakeImage(memory, {}, {{"First", 0x1000}, {"@Unit@Class@Method$qqrv", 0x1010}});
    // Header fields: code base and size, image size, export directory, the
    // second section's size and start.
    const std::uint32_t fields[] = {nt + 24 + 4,   nt + 24 + 20,        nt + 24 + 56,       nt + 24 + 96,
                                    nt + 24 + 100, nt + 24 + 0xE0 + 48, nt + 24 + 0xE0 + 52};
    std::size_t used = 0;
    for (std::uint32_t field : fields) {
      if (size - used < 4) break;
      memory.Write32(field, LoadU32(data + used));
      used += 4;
    }
    const std::size_t rest = std::min<std::size_t>(size - used, 0x1000);
    memory.Write(kBase + 0x2000, std::vector<std::uint8_t>(data + used, data + used + rest));
  }
  CheckExports(memory);

  std::size_t found = 0;
  ScanStack(memory, {0, kBase, kBase + static_cast<std::uint32_t>(std::min<std::size_t>(size, 0x3000))},
            [&](std::uint32_t) { ++found; });
  if (found > 2 * size) __builtin_trap();  // at most a call and its target per word
  return 0;
}
