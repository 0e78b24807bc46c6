#include "runtime/win/cpu_context_win.h"

namespace vellum::win {

std::uintptr_t InstructionPointer(const CONTEXT& context) {
  return context.Eip;
}

std::uintptr_t StackPointer(const CONTEXT& context) {
  return context.Esp;
}

void SetInstructionPointer(CONTEXT& context, std::uintptr_t address) {
  context.Eip = static_cast<DWORD>(address);
}

void SimulateCall(CONTEXT& context, std::uintptr_t target, std::uintptr_t return_address) {
  context.Esp -= sizeof(DWORD);
  // width: a 32-bit thread's stack address is the whole pointer.
  *reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(context.Esp)) = static_cast<DWORD>(return_address);
  context.Eip = static_cast<DWORD>(target);
}

std::optional<std::array<std::uint32_t, 8>> X86GeneralRegisters(const CONTEXT& context) {
  return std::array<std::uint32_t, 8>{context.Eax, context.Ebx, context.Ecx, context.Edx,
                                      context.Esi, context.Edi, context.Esp, context.Eip};
}

std::optional<std::array<std::uint64_t, 18>> X64GeneralRegisters(const CONTEXT&) {
  return std::nullopt;
}

}  // namespace vellum::win
