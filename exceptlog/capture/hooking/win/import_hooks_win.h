// Hooks on entries of a module's import address table: the module's calls to
// an imported procedure go to the hook instead.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

// Overwrites every entry that `module` imports from `dll_name` (compared
// without regard to case) and that holds `previous` with `new_address`,
// recording the change unless `restoring`. Answers `previous` when at least
// one entry changed, else nullptr. Raises EProcNull for a nil `previous`,
// ESharedArea for a shared-area module outside NT, and - unless `silent` -
// EHookingError when the module has no import table or no entry changed.
void* HookImport(HMODULE module, std::string_view dll_name, void* previous, bool restoring, bool silent,
                 std::string_view description, void* new_address);

// Hooks `procedure_name` of `dll_name` in each listed module that is loaded;
// `previous` receives the procedure's address. Answers whether any module
// changed. The description in errors is "<dll>.<procedure>".
bool HookImportInModules(std::span<const std::string> module_names, std::string_view dll_name, bool silent,
                         void*& previous, void* new_address, std::string_view procedure_name);

namespace detail {
// Whether an import entry holding `entry` (pointer-sized, as the import
// address table of this process's modules holds them) stands for `previous`.
// Outside NT an imported system procedure is reached through a thunk
// "PUSH value; JMP ..." that differs per importer, so entries match when they
// are such a thunk pushing the same value.
bool ImportEntryMatches(std::uintptr_t entry, const void* previous, bool system_thunks);
}  // namespace detail

}  // namespace vellum::exceptlog
