#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/trampoline.h"
#include "exceptlog/capture/hooking/win/hook_registry_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

HookedProcedure* FindHooked(HookRegistry& registry, const void* procedure) {
  for (HookedProcedure& hooked : registry.procedures) {
    if (hooked.procedure == procedure) return &hooked;
  }
  return nullptr;
}

// The procedure's first bytes, as many of kPrologueWindow as are readable: a
// procedure may end just before an unreadable page.
std::vector<std::uint8_t> ReadPrologue(const void* procedure) {
  std::size_t size = kPrologueWindow;
  while (size > 0 && !MemoryIsReadable(procedure, size)) --size;
  const auto* bytes = static_cast<const std::uint8_t*>(procedure);
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

UniqueVirtualMemory MakeTrampoline(const std::vector<std::uint8_t>& prologue, const TrampolinePlan& plan,
                                   const void* procedure) {
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, plan.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!memory) win::RaiseLastOSError("VirtualAlloc");
  const auto code = BuildTrampoline(prologue, plan, AddressOf(procedure), AddressOf(memory.get()));
  std::memcpy(memory.get(), code.data(), code.size());
  DWORD previous = 0;
  if (!VirtualProtect(memory.get(), code.size(), PAGE_EXECUTE_READ, &previous)) {
    win::RaiseLastOSError("VirtualProtect");
  }
  FlushInstructionCache(GetCurrentProcess(), memory.get(), code.size());
  return memory;
}

}  // namespace

const void* ResolveImportThunk(const void* address) {
  const auto* code = static_cast<const std::uint8_t*>(address);
  if (address == nullptr || !MemoryIsReadable(code, 8) || code[0] != 0xFF || code[1] != 0x25) return address;
  const bool padded = (code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90);
  if (!padded) return address;
  const void* const* pointer = nullptr;
  std::memcpy(&pointer, code + 2, sizeof pointer);
  if (!MemoryIsReadable(pointer, sizeof *pointer) || *pointer == nullptr) return address;
  return *pointer;
}

void* HookProcedure(const void* procedure, const void* hook, std::string_view description) {
  if (procedure == nullptr) throw NullProcedureError(description);
  procedure = ResolveImportThunk(procedure);
  hook = ResolveImportThunk(hook);
  if (!IsNtPlatform() && InSharedArea(procedure)) throw SharedAreaError(ModuleFileNameOf(procedure));
  try {
    HookRegistry* registry = ActiveHookRegistry();
    if (registry == nullptr) throw EHookError("hooking is not started");
    if (HookedProcedure* existing = FindHooked(*registry, procedure)) return existing->trampoline.get();
    if (hook == nullptr) throw EHookError("no hook");

    const std::vector<std::uint8_t> prologue = ReadPrologue(procedure);
    const TrampolinePlan plan = PlanTrampoline(prologue);
    HookedProcedure record;
    record.procedure = const_cast<void*>(procedure);
    record.trampoline = MakeTrampoline(prologue, plan, procedure);
    record.trampoline_size = plan.size();
    record.overwritten.assign(prologue.begin(), prologue.begin() + static_cast<std::ptrdiff_t>(plan.covered));
    registry->procedures.reserve(registry->procedures.size() + 1);  // nothing can fail after the jump is written
    JumpToMem(record.procedure, hook);
    registry->procedures.push_back(std::move(record));
    return registry->procedures.back().trampoline.get();
  } catch (...) {
    throw HookingError(description);
  }
}

bool UnhookProcedure(const void* procedure) {
  HookRegistry* registry = ActiveHookRegistry();
  if (registry == nullptr || procedure == nullptr) return false;
  procedure = ResolveImportThunk(procedure);
  auto& list = registry->procedures;
  const auto found =
      std::find_if(list.begin(), list.end(), [&](const HookedProcedure& h) { return h.procedure == procedure; });
  if (found == list.end()) return false;
  WriteMem(found->procedure, found->overwritten.data(), found->overwritten.size());
  list.erase(found);
  return true;
}

}  // namespace vellum::exceptlog
