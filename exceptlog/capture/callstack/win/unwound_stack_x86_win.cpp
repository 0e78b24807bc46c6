// A 32-bit process has no unwind data for its frames: its stacks are
// scanned word by word (process_stack_win.cpp). This entry exists for the
// code shared by both builds and scans as well.
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"

namespace vellum::exceptlog {

void AddUnwoundStack(TRuzadaStackList& list, TRuzadaModulesList& modules, const UnwindStart& start,
                     const StackCopy& copy, std::uint64_t stack_top, std::uint32_t thread_id) {
  const std::uint64_t copy_address = ToAddress(copy.bytes.data());
  AddStack(list, modules, start.exception_address, copy_address, copy_address + copy.bytes.size(), true, thread_id);
  if (stack_top > copy.address + copy.bytes.size()) {
    AddStack(list, modules, 0, copy.address + copy.bytes.size(), stack_top, true, thread_id);
  }
}

}  // namespace vellum::exceptlog
