// Looking an address up in a module's line tables, unit by unit in stored
// order, as the call-stack collection does for each return address.
#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/line_table.h"

namespace vellum::exceptlog {

DebugDataView ViewOf(const StoredBlock& block) {
  if (!block.HasDebugData) return {{}, block.BlockVersion, block.PasswordOk, block.Key};
  return {block.DebugData, block.BlockVersion, block.PasswordOk, block.Key};
}

std::optional<DebugLocation> LookUpDebugData(const DebugDataView& debug_data, std::uint32_t code_offset,
                                             const CodeBytesReader& code) {
  if (debug_data.Data.empty()) return std::nullopt;
  const BlockCipher cipher(debug_data.Key);
  try {
    UnitRecordReader units(debug_data);
    while (const auto unit = units.Next()) {
      if (!unit->Covers(code_offset)) continue;
      if (auto found = LookUpInUnit(debug_data, *unit, cipher, code_offset, code)) return found;
    }
  } catch (const EDebugDataError&) {
    // Damage after the units read so far: the address is simply not found.
  }
  return std::nullopt;
}

std::optional<DebugLocation> LookUpDebugDataAt(const DebugDataView& debug_data, std::uint32_t address,
                                               std::uint32_t module_handle, const CodeBytesReader& code) {
  const std::uint64_t base = std::uint64_t{module_handle} + kDebugCodeBase;
  if (address < base) return std::nullopt;
  return LookUpDebugData(debug_data, static_cast<std::uint32_t>(address - base), code);
}

}  // namespace vellum::exceptlog
