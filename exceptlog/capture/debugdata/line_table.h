// The debug data of a module: a unit count, then per unit its protected
// name, first line, code range and a table of line steps (line_step.h).
// Readers walk it without trusting it: a damaged table raises
// EDebugDataError at the first byte that does not fit, never earlier damage
// turned into a long loop or a large allocation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/debug_data_cursor.h"
#include "exceptlog/capture/debugdata/protected_name.h"

namespace vellum::exceptlog {

// Before this version the debug data starts with its unit count; from it up
// to 499 a length-prefixed block comes first.
inline constexpr std::uint16_t kFirstVersionWithDebugPreamble = 405;

struct UnitRecord {
  std::size_t NameOffset = 0;  // where the protected name starts in the data
  std::uint32_t FirstLine = 0;
  std::uint32_t CodeOffset = 0;
  std::uint32_t CodeSize = 0;
  std::span<const std::uint8_t> Table;

  bool Covers(std::uint32_t code_offset) const {
    return code_offset >= CodeOffset && std::uint64_t{code_offset} < std::uint64_t{CodeOffset} + CodeSize;
  }
};

// The unit records in stored order.
class UnitRecordReader {
 public:
  explicit UnitRecordReader(const DebugDataView& view);
  std::uint32_t DeclaredCount() const { return count_; }
  // The next record, or nothing after the last declared one.
  std::optional<UnitRecord> Next();

 private:
  std::span<const std::uint8_t> data_;
  std::uint16_t version_;
  DebugDataCursor in_;
  std::uint32_t count_ = 0;
  std::uint32_t read_ = 0;
};

// The unit's name as a report shows it.
std::string UnitDisplayName(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher);

// One entry's code range with the line and the procedure it belongs to.
struct LineRange {
  std::uint32_t Start = 0;
  std::uint32_t Size = 0;  // 0 for entries that only move the line
  std::uint32_t Line = 0;
  bool StartsProcedure = false;
  bool HasProcedure = false;  // a named entry has been seen in this unit
  const std::string* ClassName = nullptr;
  const std::string* ProcedureName = nullptr;
  std::uint32_t ProcedureFirstLine = 0;
  std::uint32_t ProcedureStart = 0;
};

// Calls `visit` for every entry of one unit's table, in order, until it
// returns false or the table ends.
void DecodeUnitTable(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher,
                     const std::function<bool(const LineRange&)>& visit);

// Line within the procedure for `range`, by the rule that also looks at the
// procedure's first code bytes.
std::uint32_t ProcedureLineOf(const LineRange& range, const CodeBytesReader& code);

// Looks `code_offset` up in one unit.
std::optional<DebugLocation> LookUpInUnit(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher,
                                          std::uint32_t code_offset, const CodeBytesReader& code);

// The protection of a view's names; `cipher` must outlive the result.
NameProtection ProtectionOf(const DebugDataView& view, const BlockCipher& cipher);

}  // namespace vellum::exceptlog
