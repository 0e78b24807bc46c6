// Readability on Windows from the region's state and protection, so the probe
// itself can never fault (IsBadReadPtr would, and it hides guard pages).
#include <windows.h>

#include "runtime/exception.h"

namespace vellum {

bool MemoryIsReadable(const void* address, std::size_t size) {
  if (address == nullptr) return false;
  auto cursor = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t end = cursor + size;
  if (end < cursor) return false;
  while (cursor < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(cursor), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT) return false;
    const DWORD protect = info.Protect & 0xFF;
    if ((info.Protect & PAGE_GUARD) != 0 || protect == PAGE_NOACCESS || protect == 0) return false;
    const auto region_end = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (region_end <= cursor) return false;
    cursor = region_end;
  }
  return true;
}

}  // namespace vellum
