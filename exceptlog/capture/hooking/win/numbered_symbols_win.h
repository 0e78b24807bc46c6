// Finding hook targets: by number in the module's stored block (resource
// "ELDATA"), else by exported name in an already loaded package. Packages of
// other runtimes are never loaded for this; a target that is not there is
// simply not hooked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace vellum::exceptlog {

// The module's stored block: its raw-data resource "ELDATA" when that starts
// with the block's magic, else empty.
std::span<const std::uint8_t> StoredBlockResource(HMODULE module);

// The procedure with `number` in the module's symbol table, or nullptr.
void* FindNumberedProcedure(HMODULE module, std::uint8_t number);

// FindNumberedProcedure, falling back to `exported_name` of `package` when
// both are given and the package is loaded; nullptr when neither has it.
void* LookupHookTarget(HMODULE module, std::uint8_t number, const char* package, const char* exported_name);

}  // namespace vellum::exceptlog
