// Making the record of one loaded module: file, version resource, size and
// date, kind, exports, and what its stored block says.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "exceptlog/capture/callstack/module_info.h"
#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

// The quick enumeration lists modules without their exports, kind, password
// and debug data; records made meanwhile have kind mkUndetermined and are
// completed when an address needs them. Process-wide; scopes nest.
bool QuickEnumerationRunning();
class QuickEnumerationScope {
 public:
  QuickEnumerationScope();
  ~QuickEnumerationScope();
  QuickEnumerationScope(const QuickEnumerationScope&) = delete;
  QuickEnumerationScope& operator=(const QuickEnumerationScope&) = delete;
};

// The module's file name as the loader answers it (a path may be short or
// carry an object-manager prefix); empty for no module. Cheap: no file is
// asked.
std::string LoaderModuleFileName(HMODULE module);

// The module's file as a report shows it; empty when the system knows no
// file for the handle (the module was unloaded, or it is no module).
std::string LoadedModuleFileName(HMODULE module);

// Last write time of the file as a local date-time at whole seconds; 0 when
// the file cannot be asked.
double ModuleFileDate(const std::string& file_name);
// The folder that holds the file, with its last separator ("C:\" for a
// file at a drive's root); empty without one.
std::string FolderOfFile(const std::string& file_name);
// Last write time of a folder (as FolderOfFile names it) as the system's
// file time; 0 when it cannot be asked.
std::uint64_t FolderWriteTime(const std::string& folder);

struct FileVersionData {
  std::string Description;  // FileDescription, empty when absent
  std::string Version;      // from the fixed file version, empty for 0.0.0.0
};
FileVersionData ReadFileVersionData(const std::string& file_name);

// mkProgram, mkPackage or mkLibrary from the in-memory headers and the
// "PACKAGEINFO" and "PACKAGEOPTIONS" resources; mkUndetermined when the
// headers cannot be read.
std::uint8_t DetermineModuleKind(HMODULE module, const MemoryReader& memory);

// The exports of `module`, addresses from GetProcAddress.
TRuzadaFunctionsList ReadModuleExports(HMODULE module, const MemoryReader& memory);

// The stored block from the module's "ELDATA" resource, else from the end
// of its file.
std::optional<StoredBlock> ReadModuleStoredBlock(HMODULE module, const std::string& file_name, bool quick);

// The full record (or, with `quick`, the quick one); nullptr when the
// module's file name cannot be read.
std::shared_ptr<TRuzadaModuleInfo> CreateModuleRecord(HMODULE module, bool quick);

}  // namespace vellum::exceptlog
