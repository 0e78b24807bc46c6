// What a report says about one loaded module: where it is, its file and
// version, what kind of module it is, its exports, and what its stored block
// carries (options, debug data, the password for protected names).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exceptlog/capture/callstack/exported_functions.h"
#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/debug_data_index.h"
#include "exceptlog/capture/options/module_options_ex.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {

enum : std::uint8_t {
  mkUndetermined = 0,  // made by a quick enumeration: exports and kind not read
  mkProgram = 1,
  mkPackage = 2,
  mkLibrary = 3,
};

struct TRuzadaModuleInfo {
  std::uint64_t Handle = 0;  // the module's base
  std::string FileName;
  std::string Description;
  std::string Version;
  std::uint32_t Size = 0;
  TRuzadaFunctionsList Functions;
  std::uint8_t Kind = mkUndetermined;
  std::uint16_t BlockVersion = kOptionsBlockVersion;
  double CompileDate = 0;
  std::unique_ptr<TRuzadaModuleOptionsEx> Options;
  std::unique_ptr<MemoryStream> DebugData;
  double FileDate = 0;
  std::string Password;
  std::uint8_t PasswordOk = 1;
  // Deciphers the protected names; derived from Password.
  CipherKey Key{};
  // The units of DebugData sorted for lookups; null without debug data.
  std::unique_ptr<const DebugDataIndex> DebugIndex;

  // What the line-table lookup needs of this module.
  DebugDataView DebugView() const;
  // Indexes DebugData; call once it and Key are final.
  void IndexDebugData();
};

// The file name as a report shows it: a path that carries an object-manager
// prefix ("\??\C:\...") starts at its drive letter.
std::string ModuleFileNameWithoutPrefix(const std::string& path);

// "major.minor.release.build" from the fixed file version's two halves;
// empty for 0.0.0.0.
std::string FormatFileVersion(std::uint32_t most_significant, std::uint32_t least_significant);

}  // namespace vellum::exceptlog
