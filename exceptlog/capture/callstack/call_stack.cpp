#include "exceptlog/capture/callstack/call_stack.h"

#include "exceptlog/capture/callstack/address_resolution.h"

namespace vellum::exceptlog {

void AddStack(TRuzadaStackList& list, const MemoryReader& memory, const ModuleLookup& modules,
              const StackSource& source) {
  const int first = list.Count();
  ScanStack(memory, source.range, [&](std::uint64_t address) {
    TRuzadaDebugInfo entry;
    entry.ThreadId = source.thread_id;
    entry.FromLiveStack = source.live ? 1 : 0;
    entry.Address = address;
    ResolveInModule(entry, modules ? modules(address) : nullptr, memory);
    list.Add(std::move(entry));
  });
  HideRepeatedEntries(list, first);
}

std::unique_ptr<TRuzadaStackList> BuildStack(const MemoryReader& memory, const ModuleLookup& modules,
                                             const StackSource& source) {
  auto list = std::make_unique<TRuzadaStackList>();
  AddStack(*list, memory, modules, source);
  return list;
}

}  // namespace vellum::exceptlog
