#include "exceptlog/capture/options/shared_block_name.h"

#include <cstdio>

namespace vellum::exceptlog {

std::string SharedBlockName(std::uint32_t process_id, std::uintptr_t module_handle, std::string_view block_name) {
  // Eight digits for the module, as modules of 32-bit processes have always
  // named it; a 64-bit module loaded above 4 GB gets all sixteen, so that two
  // modules whose bases differ only in the high half never share a block.
  const auto handle = static_cast<std::uint64_t>(module_handle);
  char prefix[25] = {};
  std::snprintf(prefix, sizeof prefix, "%.8X%.*llX", static_cast<unsigned>(process_id), handle >> 32 ? 16 : 8,
                static_cast<unsigned long long>(handle));
  return std::string(prefix) + std::string(block_name);
}

}  // namespace vellum::exceptlog
