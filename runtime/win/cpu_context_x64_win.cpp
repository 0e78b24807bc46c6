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
  // Exactly one word below: the unwinder finds the caller's stack pointer
  // one word above the return address. A target that needs the alignment a
  // call leaves must make it itself when the caller was not aligned.
  context.Rsp -= sizeof(DWORD64);
  *reinterpret_cast<DWORD64*>(static_cast<std::uintptr_t>(context.Rsp)) = return_address;
  context.Rip = target;
}

std::optional<std::array<std::uint32_t, 8>> X86GeneralRegisters(const CONTEXT&) {
  return std::nullopt;
}

std::optional<std::array<std::uint64_t, 18>> X64GeneralRegisters(const CONTEXT& c) {
  return std::array<std::uint64_t, 18>{c.Rax, c.Rbx, c.Rcx, c.Rdx, c.Rsi, c.Rdi, c.Rbp, c.Rsp, c.R8,
                                       c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15, c.Rip, c.EFlags};
}

}  // namespace vellum::win
