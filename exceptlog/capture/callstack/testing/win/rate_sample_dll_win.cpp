// A DLL of real, optimised code for the naming-rate benchmark: it links the
// portable stack-scan and export-table code and exports an entry that uses
// it, so that none of it is left out.
#include <windows.h>

#include "exceptlog/capture/callstack/class_names.h"
#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/stack_scan.h"

namespace {

class OwnMemory final : public vellum::exceptlog::MemoryReader {
 public:
  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    return vellum::exceptlog::RangeFits(address, size) && address >= 0x10000 && address <= UINTPTR_MAX;
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    CopyMemory(buffer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), size);
    return true;
  }
};

}  // namespace

// Scans [position, top) of the caller's memory and counts the exports of the
// module at `base`; the benchmark only needs the code to exist.
extern "C" __declspec(dllexport) int __cdecl RateSampleWork(std::uintptr_t base, std::uintptr_t position,
                                                            std::uintptr_t top) {
  const OwnMemory memory;
  int found = 0;
  vellum::exceptlog::ScanStack(memory, {0, position, top}, [&](std::uint64_t) { ++found; });
  found += vellum::exceptlog::ReadExportedFunctions(memory, base).Count();
  found += static_cast<int>(vellum::exceptlog::UnqualifiedClassName(typeid(memory)).size());
  return found;
}
