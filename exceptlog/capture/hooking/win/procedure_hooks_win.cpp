#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/trampoline.h"
#include "exceptlog/capture/hooking/trampoline_placement.h"
#include "exceptlog/capture/hooking/win/hook_registry_win.h"
#include "exceptlog/capture/hooking/win/near_memory_win.h"
#include "exceptlog/common/binary/little_endian.h"
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

// The trampoline's memory - in 64-bit code followed by a relay when the hook
// is out of the procedure's 5-byte jump's reach - and where that jump goes.
struct PreparedTrampoline {
  UniqueVirtualMemory memory;
  std::size_t size = 0;
  const void* jump_target = nullptr;
};

// A 32-bit jump reaches the whole address space: the trampoline goes anywhere.
UniqueVirtualMemory AllocateAnywhere(std::size_t size) {
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!memory) win::RaiseLastOSError("VirtualAlloc");
  return memory;
}

// 64-bit code: the trampoline's displacements and the procedure's 5-byte jump
// reach 2 GB, so the block lies within 2 GB of the procedure and of the data
// its moved instructions address.
UniqueVirtualMemory AllocateNearProcedure(const std::vector<std::uint8_t>& prologue, const TrampolinePlan& plan,
                                          const void* procedure, std::size_t size, std::string_view description) {
  std::vector<std::uint64_t> anchors = RipRelativeTargets(prologue, plan, AddressOf(procedure));
  anchors.push_back(AddressOf(procedure));
  UniqueVirtualMemory memory = AllocateWithin(ReachWindow(anchors, size), AddressOf(procedure), size);
  if (!memory) throw HookingError(description, "no free memory for its trampoline lies within 2 GB of it");
  return memory;
}

void MakeExecutable(void* memory, std::size_t size) {
  DWORD previous = 0;
  if (!VirtualProtect(memory, size, PAGE_EXECUTE_READ, &previous)) win::RaiseLastOSError("VirtualProtect");
  FlushInstructionCache(GetCurrentProcess(), memory, size);
}

PreparedTrampoline MakeTrampoline(const std::vector<std::uint8_t>& prologue, const TrampolinePlan& plan,
                                  const void* procedure, const void* hook, std::string_view description) {
  PreparedTrampoline prepared;
  prepared.size = plan.size();
  prepared.jump_target = hook;
  std::size_t relay_at = 0;
  if constexpr (kProcessCodeMode == CodeMode::k64) {
    if (!EncodeNearJump64(AddressOf(procedure), AddressOf(hook))) {
      relay_at = plan.size();
      prepared.size = relay_at + kAbsoluteJumpSize;
    }
    prepared.memory = AllocateNearProcedure(prologue, plan, procedure, prepared.size, description);
  } else {
    prepared.memory = AllocateAnywhere(prepared.size);
  }
  auto* block = static_cast<std::uint8_t*>(prepared.memory.get());
  const auto code = BuildTrampoline(prologue, plan, AddressOf(procedure), AddressOf(block));
  std::memcpy(block, code.data(), code.size());
  if (relay_at != 0) {
    const auto relay = EncodeAbsoluteJump(AddressOf(hook));
    std::memcpy(block + relay_at, relay.data(), relay.size());
    prepared.jump_target = block + relay_at;
  }
  MakeExecutable(block, prepared.size);
  return prepared;
}

}  // namespace

const void* ResolveImportThunk(const void* address) {
  const auto* code = static_cast<const std::uint8_t*>(address);
  if (address == nullptr || !MemoryIsReadable(code, 8) || code[0] != 0xFF || code[1] != 0x25) return address;
  const bool padded = (code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90);
  if (!padded) return address;
  // The operand is the pointer's address in 32-bit code, and its distance
  // from the end of the 6-byte jump in 64-bit code.
  const std::uint32_t operand = exceptlog::LoadU32(code + 2);
  std::uintptr_t pointer_address = operand;
  if constexpr (kProcessCodeMode == CodeMode::k64) {
    pointer_address =
        AddressOf(code + 6) + static_cast<std::uintptr_t>(std::intptr_t{static_cast<std::int32_t>(operand)});
  }
  const auto* pointer = reinterpret_cast<const void* const*>(pointer_address);
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
    const TrampolinePlan plan = PlanTrampoline(prologue, kProcessCodeMode);
    PreparedTrampoline prepared = MakeTrampoline(prologue, plan, procedure, hook, description);
    HookedProcedure record;
    record.procedure = const_cast<void*>(procedure);
    record.trampoline = std::move(prepared.memory);
    record.trampoline_size = prepared.size;
    record.overwritten.assign(prologue.begin(), prologue.begin() + static_cast<std::ptrdiff_t>(plan.covered));
    registry->procedures.reserve(registry->procedures.size() + 1);  // nothing can fail after the jump is written
    JumpToMem(record.procedure, prepared.jump_target);
    registry->procedures.push_back(std::move(record));
    return registry->procedures.back().trampoline.get();
  } catch (const EHookingError&) {
    throw;  // says why already
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
