#include "runtime/win/cpu_context_win.h"

namespace vellum::win {

std::uintptr_t InstructionPointer(const CONTEXT& context) {
  return context.Rip;
}

std::uintptr_t StackPointer(const CONTEXT& context) {
  return context.Rsp;
}

void SetInstructionPointer(CONTEXT& context, std::uintptr_t address) {
  context.Rip = address;
}

void SimulateCall(CONTEXT& context, std::uintptr_t target, std::uintptr_t return_address) {
  // After a call the stack pointer is 8 below a 16-byte boundary.
  context.Rsp = (context.Rsp & ~static_cast<DWORD64>(15)) - sizeof(DWORD64);
  *reinterpret_cast<DWORD64*>(static_cast<std::uintptr_t>(context.Rsp)) = return_address;
  context.Rip = target;
}

std::optional<std::array<std::uint32_t, 8>> X86GeneralRegisters(const CONTEXT&) {
  return std::nullopt;
}

}  // namespace vellum::win
