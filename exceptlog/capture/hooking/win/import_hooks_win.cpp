#include "exceptlog/capture/hooking/win/import_hooks_win.h"

#include <array>
#include <optional>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/win/hook_registry_win.h"
#include "exceptlog/capture/hooking/win/module_image_win.h"
#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

// The import directory of a module's in-memory image.
std::optional<IMAGE_DATA_DIRECTORY> ImportDirectory(HMODULE module) {
  const auto nt = ReadImageHeaders(module);
  if (!nt || nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return std::nullopt;
  const IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return std::nullopt;
  return directory;
}

bool EqualsIgnoringCase(std::uintptr_t name_address, std::string_view wanted) {
  for (std::size_t i = 0;; ++i) {
    const auto c = ReadForeign<char>(name_address + i);
    if (!c) return false;
    if (i == wanted.size()) return *c == '\0';
    const auto lower = [](char x) { return (x >= 'A' && x <= 'Z') ? static_cast<char>(x - 'A' + 'a') : x; };
    if (lower(*c) != lower(wanted[i])) return false;
  }
}

// The thunks exist outside NT only, where processes are 32-bit: the pushed
// value is 32 bits in any case.
std::optional<std::uint32_t> PushedBySystemThunk(std::uintptr_t address) {
  const auto code = ReadForeign<std::array<std::uint8_t, 6>>(address);
  if (!code || (*code)[0] != 0x68 || (*code)[5] != 0xE9) return std::nullopt;
  return exceptlog::LoadU32(code->data() + 1);
}

}  // namespace

namespace detail {
bool ImportEntryMatches(std::uintptr_t entry, const void* previous, bool system_thunks) {
  if (entry == AddressOf(previous)) return true;
  if (!system_thunks) return false;
  const auto wanted = PushedBySystemThunk(AddressOf(previous));
  return wanted && PushedBySystemThunk(entry) == wanted;
}
}  // namespace detail

void* HookImport(HMODULE module, std::string_view dll_name, void* previous, bool restoring, bool silent,
                 std::string_view description, void* new_address) {
  if (previous == nullptr) throw NullProcedureError(description);
  const bool nt = IsNtPlatform();
  if (!nt && InSharedArea(module)) throw SharedAreaError(ModuleFileNameOf(module));
  HookRegistry* registry = restoring ? nullptr : ActiveHookRegistry();
  if (!restoring && registry == nullptr) throw HookingError(description);

  const auto directory = ImportDirectory(module);
  if (!directory) {
    if (silent) return nullptr;
    throw HookingError(description);
  }
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  std::size_t changed = 0;
  try {
    for (std::uintptr_t at = base + directory->VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const auto descriptor = ReadForeign<IMAGE_IMPORT_DESCRIPTOR>(at);
      if (!descriptor || descriptor->Name == 0 || descriptor->FirstThunk == 0) break;
      if (!EqualsIgnoringCase(base + descriptor->Name, dll_name)) continue;
      for (std::uintptr_t entry = base + descriptor->FirstThunk;; entry += sizeof(std::uintptr_t)) {
        const auto value = ReadForeign<std::uintptr_t>(entry);
        if (!value || *value == 0) break;
        if (!detail::ImportEntryMatches(*value, previous, !nt)) continue;
        WriteMem(reinterpret_cast<void*>(entry), &new_address, sizeof new_address);
        ++changed;
      }
    }
  } catch (...) {
    // Entries already changed stay recorded, so that stopping restores them.
    if (changed > 0 && registry != nullptr) {
      registry->imports.push_back({module, std::string(dll_name), previous, new_address});
    }
    throw HookingError(description);
  }
  if (changed == 0) {
    if (silent) return nullptr;
    throw HookingError(description);
  }
  if (registry != nullptr) registry->imports.push_back({module, std::string(dll_name), previous, new_address});
  return previous;
}

bool HookImportInModules(std::span<const std::string> module_names, std::string_view dll_name, bool silent,
                         void*& previous, void* new_address, std::string_view procedure_name) {
  const std::string dll(dll_name);
  const std::string procedure(procedure_name);
  const HMODULE exporter = GetModuleHandleA(dll.c_str());
  previous = exporter != nullptr ? reinterpret_cast<void*>(GetProcAddress(exporter, procedure.c_str())) : nullptr;
  const std::string description = dll + "." + procedure;
  bool any = false;
  for (const std::string& name : module_names) {
    const HMODULE module = GetModuleHandleA(name.c_str());
    if (module == nullptr) continue;
    if (HookImport(module, dll, previous, false, silent, description, new_address) != nullptr) any = true;
  }
  return any;
}

}  // namespace vellum::exceptlog
