// The registers every architecture has, read from and written to a thread's
// CONTEXT without naming the architecture's own fields (Eip/Esp on x86,
// Rip/Rsp on x64). Each architecture has a file of its own.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>

namespace vellum::win {

std::uintptr_t InstructionPointer(const CONTEXT& context);
std::uintptr_t StackPointer(const CONTEXT& context);
void SetInstructionPointer(CONTEXT& context, std::uintptr_t address);

// Makes the thread go on in `target` as if the instruction at its
// instruction pointer had called it, returning to `return_address`: the
// return address one word below the stack pointer it had.
void SimulateCall(CONTEXT& context, std::uintptr_t target, std::uintptr_t return_address);

// EAX, EBX, ECX, EDX, ESI, EDI, ESP and EIP of a 32-bit thread, in that
// order; none in a 64-bit process, whose registers the 32-bit report layout
// cannot hold.
std::optional<std::array<std::uint32_t, 8>> X86GeneralRegisters(const CONTEXT& context);

// RAX, RBX, RCX, RDX, RSI, RDI, RBP, RSP, R8 to R15, RIP and the flags of a
// 64-bit thread, in that order; none in a 32-bit process.
std::optional<std::array<std::uint64_t, 18>> X64GeneralRegisters(const CONTEXT& context);

}  // namespace vellum::win
