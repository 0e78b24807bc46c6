// The unit records of one module's debug data read once and sorted by code
// offset, for callers that look up many addresses of the same module (the
// exlog tool, a report with many threads). Gives the same answers as
// LookUpDebugData.
//
// A unit's line table is decoded once, on its first lookup, into ranges
// sorted by code offset with their procedures' names deciphered: a report
// names hundreds of addresses, mostly in the same few units, and decoding a
// table up to an address for each of them was most of a lookup's cost.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
  struct Procedure {
    std::string ClassName;
    std::string Name;
    std::uint32_t FirstLine = 0;
    std::uint32_t Start = 0;
  };
  struct Range {
    std::uint32_t Start = 0;
    std::uint32_t Size = 0;
    std::uint32_t Line = 0;
    std::int32_t Procedure = -1;  // none before the table's first name
  };
  // A table as far as it could be read: ranges in table order (their starts
  // never go down), and whether damage ended it.
  struct DecodedUnit {
    std::vector<Range> Ranges;
    std::vector<Procedure> Procedures;
    bool Damaged = false;
    std::optional<std::string> UnitName;  // none: the name itself is damaged
  };
  enum class Answer { kFound, kNotHere, kDamaged };

  const DecodedUnit& Decoded(const Entry& entry) const;
  Answer LookUpInDecoded(const DecodedUnit& unit, std::uint32_t code_offset, const CodeBytesReader& code,
                         DebugLocation& location) const;

  DebugDataView view_;
  BlockCipher cipher_;
  std::vector<Entry> units_;  // by code offset
  bool damaged_ = false;
  // By StoredIndex; filled on first use. Lookups may come from any thread.
  mutable std::mutex decoded_lock_;
  mutable std::vector<std::unique_ptr<const DecodedUnit>> decoded_;
  // The same units, published for lookups that take no lock.
  std::unique_ptr<std::atomic<const DecodedUnit*>[]> published_;
};

}  // namespace vellum::exceptlog
