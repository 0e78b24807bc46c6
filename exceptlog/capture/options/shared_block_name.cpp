#include "exceptlog/capture/options/shared_block_name.h"

#include <cstdio>

namespace vellum::exceptlog {

std::string SharedBlockName(std::uint32_t process_id, std::uintptr_t module_handle, std::string_view block_name) {
  char prefix[17] = {};
  std::snprintf(prefix, sizeof prefix, "%.8X%.8X", static_cast<unsigned>(process_id),
                static_cast<unsigned>(module_handle & 0xFFFFFFFFu));
  return std::string(prefix) + std::string(block_name);
}

}  // namespace vellum::exceptlog
