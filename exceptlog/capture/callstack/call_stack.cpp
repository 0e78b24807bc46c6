#include "exceptlog/capture/callstack/call_stack.h"

#include "exceptlog/capture/callstack/address_resolution.h"

namespace vellum::exceptlog {

void AddStack(TRuzadaStackList& list, const MemoryReader& memory, const ModuleLookup& modules,
              const StackSource& source) {
  const int first = list.Count();
  // One pointer captured: the callback fits the function object without an
  // allocation, which naming a single address would notice.
  const struct {
    TRuzadaStackList& list;
    const MemoryReader& memory;
    const ModuleLookup& modules;
    const StackSource& source;
  } adding{list, memory, modules, source};
  ScanStack(memory, source.range, [context = &adding](std::uint64_t address) {
    TRuzadaDebugInfo entry;
    entry.ThreadId = context->source.thread_id;
    entry.FromLiveStack = context->source.live ? 1 : 0;
    entry.Address = address;
    ResolveInModule(entry, context->modules ? context->modules(address) : nullptr, context->memory);
    context->list.Add(std::move(entry));
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
