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
#include <vector>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/options/module_options.h"

namespace vellum::exceptlog {

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
};
std::string CallStackSection(const TRuzadaModuleOptions& options, const CallStackInput& input);

// The pieces of the call stack table, for those who show it otherwise (the
// dialog's Call Stack page): whether the options show an entry, its six
// cells, and a thread group's header without the table's leading space.
bool StackEntryShown(const TRuzadaDebugInfo& entry, TStackFlags flags);
std::array<std::string, 6> StackEntryCells(const TRuzadaDebugInfo& entry, bool procedure_lines);
std::string ThreadHeaderText(const TRuzadaModuleOptions& options, const CallStackInput& input,
                             const TRuzadaDebugInfo& entry, bool first_group);

// One row of the modules table.
struct ModuleRow {
  std::uint32_t handle = 0;
  std::string path;  // full file name
  std::string description;
  std::string version;
  std::uint32_t size = 0;
  double modified = 0;  // serial date of the file; 0 when unknown
};
std::string ModulesSection(const TRuzadaModuleOptions& options, const std::vector<ModuleRow>& modules);

// The folder of `path` without its final backslash, except a drive root.
std::string ModuleFolder(const std::string& path);

struct CpuRegisters {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0, esp = 0, eip = 0;
};
struct CpuInput {
  std::optional<CpuRegisters> registers;  // none without a context
  std::uint32_t stack_pointer = 0;
  std::uint32_t address = 0;
  // The memory at both, when every byte could be read.
  std::optional<std::array<std::uint8_t, 64>> stack;
  std::optional<std::array<std::uint8_t, 256>> code;
};
std::string CpuSection(const TRuzadaModuleOptions& options, const CpuInput& input);

}  // namespace vellum::exceptlog
