// Naming one call-stack address: first the module's debug data (with line),
// else the export whose range holds the address.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

// Names `entry` from an exported name (ResolveExportedName's rule); a name
// that says nothing leaves the entry as it is.
void NameFromExport(const std::string& exported_name, TRuzadaDebugInfo& entry);

// Resolves `entry.Address` in `module` (nullptr: in no module, the entry
// stays hidden). Keeps the entry's thread id and live flag. `memory` gives
// the procedure's first code bytes that the line count within a procedure
// depends on.
void ResolveInModule(TRuzadaDebugInfo& entry, std::shared_ptr<const TRuzadaModuleInfo> module,
                     const MemoryReader& memory);

}  // namespace vellum::exceptlog
