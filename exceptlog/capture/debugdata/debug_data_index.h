// The unit records of one module's debug data read once and sorted by code
// offset, for callers that look up many addresses of the same module (the
// exlog tool, a report with many threads). Gives the same answers as
// LookUpDebugData.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/line_table.h"

namespace vellum::exceptlog {

class DebugDataIndex {
 public:
  // `view.Data` must outlive the index. Units after damaged data are left
  // out; Damaged() then says so.
  explicit DebugDataIndex(const DebugDataView& view);

  std::optional<DebugLocation> LookUp(std::uint32_t code_offset, const CodeBytesReader& code) const;

  std::size_t UnitCount() const { return units_.size(); }
  bool Damaged() const { return damaged_; }

 private:
  struct Entry {
    UnitRecord Unit;
    std::size_t StoredIndex = 0;
    std::uint64_t EndSoFar = 0;  // the largest code end among this and all earlier entries
  };

  DebugDataView view_;
  BlockCipher cipher_;
  std::vector<Entry> units_;  // by code offset
  bool damaged_ = false;
};

}  // namespace vellum::exceptlog
