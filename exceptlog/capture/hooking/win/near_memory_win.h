// Memory for 64-bit trampolines, allocated near the code they serve: the
// process's free regions are walked outwards from a given address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exceptlog/capture/hooking/trampoline_placement.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"

namespace vellum::exceptlog {

// Read-write memory of `size` bytes whose base lies in `window`, from the
// free region nearest to `close_to`, below or above it; empty when no free region
// in the window takes it.
UniqueVirtualMemory AllocateWithin(const AddressWindow& window, std::uintptr_t close_to, std::size_t size);

}  // namespace vellum::exceptlog
