// Any bytes as a stored block, in both forms and with and without a quick
// read; whatever debug data comes out is looked up at a few offsets.
#include <cstddef>
#include <cstdint>

#include "exceptlog/capture/debugdata/debug_data.h"

using namespace vellum::exceptlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto code = [bytes](std::uint32_t offset, std::span<std::uint8_t> out) {
    if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
    std::copy_n(bytes.begin() + offset, out.size(), out.begin());
    return true;
  };
  for (const bool quick : {false, true}) {
    auto block = ReadStoredBlock(bytes, quick, [](const std::string& current) { return current + "x"; });
    if (!block) block = ReadAppendedStoredBlock(bytes, quick);
    if (!block) continue;
    if (block->HasDebugData) {
      for (const std::uint32_t offset : {0u, 0x10u, 0x1234u, 0xFFFFFFFFu})
        LookUpDebugData(ViewOf(*block), offset, code);
    }
  }
  return 0;
}
