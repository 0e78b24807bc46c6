// The table sections of a report: the call stack of every thread listed,
// the loaded modules and the processor state with its memory dump. Readers
// of stored logs find rows by their "|" borders and sections by their dash
// lines, so every row of a table is equally wide.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/options/module_options.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

// Inputs that contradict each other (a register set of the other bitness).
VELLUM_EXCEPTION_CLASS(EReportLayoutError, Exception);

// The bitness of the process a report describes. Its addresses are written
// with as many hex digits as it has (8 or 16), so that a reader sees where
// an address lies without knowing which build wrote the report.
enum class AddressWidth : std::uint8_t { k32Bit, k64Bit };
int AddressDigits(AddressWidth width);

// What the threads list knows of a thread: its priority as text and the
// class of its thread object (empty for a plain thread).
struct ThreadFacts {
  std::string priority;
  std::string class_name;
};
// nullopt for a thread the list does not hold.
using ThreadFactsLookup = std::function<std::optional<ThreadFacts>(std::uint32_t thread_id)>;

struct CallStackInput {
  const TRuzadaStackList* entries = nullptr;
  std::uint32_t main_thread_id = 0;
  ThreadFactsLookup thread_facts;
  // Told the stage of the build, so that a failure can be located.
  std::function<void(int)> progress;
  AddressWidth address_width = AddressWidth::k32Bit;
};
std::string CallStackSection(const TRuzadaModuleOptions& options, const CallStackInput& input);

// The pieces of the call stack table, for those who show it otherwise (the
// dialog's Call Stack page): whether the options show an entry, its six
// cells, and a thread group's header without the table's leading space.
bool StackEntryShown(const TRuzadaDebugInfo& entry, TStackFlags flags);
std::array<std::string, 6> StackEntryCells(const TRuzadaDebugInfo& entry, bool procedure_lines, AddressWidth width);
std::string ThreadHeaderText(const TRuzadaModuleOptions& options, const CallStackInput& input,
                             const TRuzadaDebugInfo& entry, bool first_group);

// One row of the modules table.
struct ModuleRow {
  std::uint64_t handle = 0;
  std::string path;  // full file name
  std::string description;
  std::string version;
  std::uint32_t size = 0;
  double modified = 0;  // serial date of the file; 0 when unknown
};
std::string ModulesSection(const TRuzadaModuleOptions& options, const std::vector<ModuleRow>& modules,
                           AddressWidth width);

// The folder of `path` without its final backslash, except a drive root.
std::string ModuleFolder(const std::string& path);

struct CpuRegisters {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0, esp = 0, eip = 0;
};
struct CpuRegisters64 {
  std::uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0;
  std::uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
  std::uint64_t rip = 0;
  std::uint32_t eflags = 0;  // the context keeps 32 bits of the flags in both bitnesses
};

// The stack part shows one word per line of the memory dump: 16 words of
// the process's width. A 32-bit report reads only the first 64 bytes, so a
// stack that ends 64 bytes above its pointer still gets its dump.
inline constexpr std::size_t kStackDumpWords = 16;
inline constexpr std::size_t kStackDumpBytes = kStackDumpWords * 8;
std::size_t StackDumpBytes(AddressWidth width);

struct CpuInput {
  AddressWidth address_width = AddressWidth::k32Bit;
  // None without a context; otherwise the set of `address_width` (the other
  // set is refused with EReportLayoutError).
  std::variant<std::monostate, CpuRegisters, CpuRegisters64> registers;
  std::uint64_t stack_pointer = 0;
  std::uint64_t address = 0;
  // The memory at both, when every byte could be read (of the stack, the
  // first StackDumpBytes(address_width)).
  std::optional<std::array<std::uint8_t, kStackDumpBytes>> stack;
  std::optional<std::array<std::uint8_t, 256>> code;
};
std::string CpuSection(const TRuzadaModuleOptions& options, const CpuInput& input);

}  // namespace vellum::exceptlog
