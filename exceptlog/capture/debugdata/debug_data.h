// A module's stored block and the line table inside it: the reader the
// module list uses for every loaded module, and the address lookup that turns
// a code address into unit, class, procedure and line.
//
// Everything here reads bytes that come from module files we did not write:
// every length, count, offset and name is checked against what is really
// there. A damaged block never raises out of these functions; it yields a
// block without options or debug data and says why in `Problem`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/common/codec/block_cipher.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

// What this build writes, and what a module without a stored block reports.
inline constexpr std::uint16_t kOwnBlockVersion = 504;
// Code offsets in the block count from the module handle plus this.
inline constexpr std::uint32_t kDebugCodeBase = 0x1000;

// Asked for the password of a module with protected names; gets the current
// password (empty at first) and returns the one to use.
using PasswordRequest = std::function<std::string(const std::string& current_password)>;

struct StoredBlock {
  std::uint16_t BlockVersion = kOwnBlockVersion;
  double CompileDate = 0;  // date-time: days since 1899-12-30
  // The numbered symbol table (9-byte entries); empty before version 500.
  std::vector<std::uint8_t> SymbolTable;
  // The inflated options stream, to be loaded with LoadFromStream at
  // BlockVersion; only meaningful when HasOptions.
  std::vector<std::uint8_t> OptionsStream;
  bool HasOptions = false;
  std::string Password;
  bool PasswordOk = true;  // the check succeeded, or none was needed
  CipherKey Key{};         // derived from Password; deciphers protected names
  // The inflated line tables; only meaningful when HasDebugData.
  std::vector<std::uint8_t> DebugData;
  bool HasDebugData = false;
  // A deferred read keeps the compressed part that holds the debug data
  // here, for InflateDeferredDebugData.
  std::vector<std::uint8_t> CompressedDebugData;
  bool DebugDataDeferred = false;
  // Why options or debug data are missing or shortened; empty when the block
  // was read whole (or when a quick read skipped the debug data on purpose).
  std::string Problem;
};

// `resource`: the bytes of the raw-data resource "ELDATA". `quick`: a quick
// module enumeration, which reads the options but neither asks for the
// password nor inflates the debug data. `request_password` may be empty.
// Returns nothing when the bytes do not start with the magic.
std::optional<StoredBlock> ReadStoredBlock(std::span<const std::uint8_t> resource, bool quick,
                                           const PasswordRequest& request_password);

// As ReadStoredBlock without `quick`, except that the compressed debug data
// of a block that keeps it apart (the current layout) is only copied: the
// block says DebugDataDeferred, and InflateDeferredDebugData later gives the
// DebugData, HasDebugData and Problem the whole read would have given. A
// module's start reads its own block this way.
std::optional<StoredBlock> ReadStoredBlockDeferred(std::span<const std::uint8_t> resource,
                                                   const PasswordRequest& request_password);
void InflateDeferredDebugData(StoredBlock& block);

// The appended form. `file_tail`: the last bytes of the module file (at least
// AppendedBlockSize + 8 of them; the whole file will do). Returns nothing when
// the file does not end with the magic.
std::optional<StoredBlock> ReadAppendedStoredBlock(std::span<const std::uint8_t> file_tail, bool quick);

// From the file's last 8 bytes: how many bytes before them hold the block,
// so that a caller can read exactly the tail it needs. Nothing when the file
// carries no appended block.
std::optional<std::uint32_t> AppendedBlockSize(std::span<const std::uint8_t> last_eight_bytes);

// Loads the block's options into `options` at the block's version. False,
// with `options` unchanged, when the block has none or they do not load.
bool LoadStoredOptions(const StoredBlock& block, TRuzadaModuleOptions& options);

// What the lookup needs of a module.
struct DebugDataView {
  std::span<const std::uint8_t> Data;  // StoredBlock::DebugData
  std::uint16_t BlockVersion = kOwnBlockVersion;
  bool PasswordOk = true;
  CipherKey Key{};
};

DebugDataView ViewOf(const StoredBlock& block);

// Reads `out.size()` code bytes of the module starting at `code_offset`
// (counted from the module handle + 0x1000). False when they are not all
// readable. The lookup needs the first bytes of a procedure to tell whether
// it starts with a stack frame.
using CodeBytesReader = std::function<bool(std::uint32_t code_offset, std::span<std::uint8_t> out)>;

struct DebugLocation {
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::uint32_t Line = 0;
  std::uint32_t ProcedureLine = 0;  // offset from the procedure's first line
};

// `code_offset`: the address minus (module handle + 0x1000). Nothing when no
// unit of the debug data covers it or the data is damaged before it.
std::optional<DebugLocation> LookUpDebugData(const DebugDataView& debug_data, std::uint32_t code_offset,
                                             const CodeBytesReader& code);

// The same for an absolute address inside the module loaded at `module_handle`.
std::optional<DebugLocation> LookUpDebugDataAt(const DebugDataView& debug_data, std::uint32_t address,
                                               std::uint32_t module_handle, const CodeBytesReader& code);

// Names from an export table, for modules without debug data. Kind 2: only a
// procedure name; kind 3: unit (with ".pas"), class and procedure from a
// mangled or dotted name.
struct ExportedNameParts {
  std::uint8_t Kind = 2;
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
};

// Nothing for names that say nothing (empty, or starting with "?").
std::optional<ExportedNameParts> ResolveExportedName(const std::string& exported_name);

}  // namespace vellum::exceptlog
