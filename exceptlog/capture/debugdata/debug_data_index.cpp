#include "exceptlog/capture/debugdata/debug_data_index.h"

#include <algorithm>

namespace vellum::exceptlog {

DebugDataIndex::DebugDataIndex(const DebugDataView& view) : view_(view), cipher_(view.Key) {
  if (view.Data.empty()) return;
  try {
    UnitRecordReader reader(view);
    while (const auto unit = reader.Next()) units_.push_back({*unit, units_.size(), 0});
  } catch (const EDebugDataError&) {
    damaged_ = true;
  }
  std::stable_sort(units_.begin(), units_.end(),
                   [](const Entry& a, const Entry& b) { return a.Unit.CodeOffset < b.Unit.CodeOffset; });
  std::uint64_t end = 0;
  for (Entry& entry : units_) {
    end = std::max(end, std::uint64_t{entry.Unit.CodeOffset} + entry.Unit.CodeSize);
    entry.EndSoFar = end;
  }
}

std::optional<DebugLocation> DebugDataIndex::LookUp(std::uint32_t code_offset, const CodeBytesReader& code) const {
  // Units starting at or before the offset, walked back while some unit
  // could still reach it; stored order decides between overlapping units,
  // as the linear lookup would.
  auto it = std::upper_bound(units_.begin(), units_.end(), code_offset,
                             [](std::uint32_t offset, const Entry& e) { return offset < e.Unit.CodeOffset; });
  std::vector<const Entry*> candidates;
  while (it != units_.begin()) {
    --it;
    if (it->EndSoFar <= code_offset) break;
    if (it->Unit.Covers(code_offset)) candidates.push_back(&*it);
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Entry* a, const Entry* b) { return a->StoredIndex < b->StoredIndex; });
  for (const Entry* entry : candidates) {
    try {
      if (auto found = LookUpInUnit(view_, entry->Unit, cipher_, code_offset, code)) return found;
    } catch (const EDebugDataError&) {
      // The linear lookup stops at the first damaged table it decodes.
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace vellum::exceptlog
