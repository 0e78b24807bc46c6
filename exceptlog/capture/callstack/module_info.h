// What a report says about one loaded module: where it is, its file and
// version, what kind of module it is, its exports, and what its stored block
// carries (options, debug data, the password for protected names).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
  // The image's extent from Handle on: an address inside it is the module's
  // without asking the memory manager. 0: unknown.
  std::uint32_t ImageSize = 0;
  // The code section's absolute bounds, readable while the module is loaded.
  std::uint64_t CodeStart = 0;
  std::uint64_t CodeEnd = 0;
  std::string FileName;
  // The file name as the loader answers it, before it is made the report's:
  // comparing it again tells cheaply whether the module is still loaded.
  std::string LoadedName;
  std::string Description;
  std::string Version;
  std::uint32_t Size = 0;
  TRuzadaFunctionsList Functions;
  std::uint8_t Kind = mkUndetermined;
  std::uint16_t BlockVersion = kOptionsBlockVersion;
  double CompileDate = 0;
  std::unique_ptr<TRuzadaModuleOptionsEx> Options;
  double FileDate = 0;
  // A record made while its file could not be asked (FileDate 0): the
  // last-write time of the file's folder then, as the system's file time. A
  // file that appears in the folder changes the folder's time; until then the
  // file need not be asked for again, which under Wine costs a search through
  // the whole folder (its 16-bit modules have no files). 0: not known.
  std::uint64_t MissingFileFolderTime = 0;
  std::string Password;
  std::uint8_t PasswordOk = 1;
  // Deciphers the protected names; derived from Password.
  CipherKey Key{};

  // Where the debug data comes from when first needed: a module's start
  // makes its own record, and inflating and indexing a block of megabytes
  // there would hold up the module's load for a report that may never come.
  // The source runs once; it answers nothing for a module without debug data.
  // BlockVersion, PasswordOk and Key must be final before the first use.
  using DebugDataSource = std::function<std::optional<std::vector<std::uint8_t>>()>;
  void SetDebugDataSource(DebugDataSource source);
  void SetDebugData(std::vector<std::uint8_t> data);
  // The debug data's units sorted for lookups, made on the first call from
  // any thread; nullptr without debug data.
  const DebugDataIndex* DebugIndex() const;
  bool HasDebugData() const { return DebugIndex() != nullptr; }
  // Whether the source has run (tests: nothing is decoded before it is needed).
  bool DebugDataLoaded() const;

 private:
  // What the line-table lookup needs of this module.
  DebugDataView DebugView() const;
  void LoadDebugData() const;

  mutable DebugDataSource debug_source_;
  mutable std::mutex debug_lock_;
  mutable std::atomic<bool> debug_loaded_{false};
  mutable std::vector<std::uint8_t> debug_data_;
  mutable std::unique_ptr<const DebugDataIndex> debug_index_;
};

// The file name as a report shows it: a path that carries an object-manager
// prefix ("\??\C:\...") starts at its drive letter.
std::string ModuleFileNameWithoutPrefix(const std::string& path);

// "major.minor.release.build" from the fixed file version's two halves;
// empty for 0.0.0.0.
std::string FormatFileVersion(std::uint32_t most_significant, std::uint32_t least_significant);

}  // namespace vellum::exceptlog
