// Names of the process-local shared blocks: one per process, module and
// purpose, so that the modules of one process find each other's blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

// Process id and module handle as 8 upper-case hexadecimal digits each (16
// for a module loaded above 4 GB), then the block name: "00000F2C10000000MODULE".
std::string SharedBlockName(std::uint32_t process_id, std::uintptr_t module_handle, std::string_view block_name);

}  // namespace vellum::exceptlog
