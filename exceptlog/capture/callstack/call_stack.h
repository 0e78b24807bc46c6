// Building a call stack: scan a stack for return addresses, resolve each one
// in its module, then hide the repeated ones.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

// The module record holding an address, nullptr for none.
using ModuleLookup = std::function<std::shared_ptr<const TRuzadaModuleInfo>(std::uint64_t address)>;

struct StackSource {
  StackScanRange range;
  bool live = true;  // false: a saved copy of a caller's stack
  std::uint32_t thread_id = 0;
};

// Appends the entries of one stack to `list` and post-processes them.
void AddStack(TRuzadaStackList& list, const MemoryReader& memory, const ModuleLookup& modules,
              const StackSource& source);

std::unique_ptr<TRuzadaStackList> BuildStack(const MemoryReader& memory, const ModuleLookup& modules,
                                             const StackSource& source);

}  // namespace vellum::exceptlog
