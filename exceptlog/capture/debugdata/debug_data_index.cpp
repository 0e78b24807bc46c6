#include "exceptlog/capture/debugdata/debug_data_index.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

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
  decoded_.resize(units_.size());
  published_ = std::make_unique<std::atomic<const DecodedUnit*>[]>(units_.size());
}

const DebugDataIndex::DecodedUnit& DebugDataIndex::Decoded(const Entry& entry) const {
  // Decoded once, then read without the lock by every lookup.
  if (const DecodedUnit* ready = published_[entry.StoredIndex].load(std::memory_order_acquire)) return *ready;
  const std::lock_guard<std::mutex> guard(decoded_lock_);
  std::unique_ptr<const DecodedUnit>& slot = decoded_[entry.StoredIndex];
  if (slot) return *slot;
  auto unit = std::make_unique<DecodedUnit>();
  try {
    DecodeUnitTable(view_, entry.Unit, cipher_, [&](const LineRange& range) {
      if (range.StartsProcedure) {
        unit->Procedures.push_back(
            {*range.ClassName, *range.ProcedureName, range.ProcedureFirstLine, range.ProcedureStart});
      }
      const auto procedure = range.HasProcedure ? static_cast<std::int32_t>(unit->Procedures.size()) - 1 : -1;
      unit->Ranges.push_back({range.Start, range.Size, range.Line, procedure});
      return true;
    });
  } catch (const EDebugDataError&) {
    unit->Damaged = true;
  }
  try {
    unit->UnitName = UnitDisplayName(view_, entry.Unit, cipher_);
  } catch (const EDebugDataError&) {
    unit->UnitName.reset();
  }
  slot = std::move(unit);
  published_[entry.StoredIndex].store(slot.get(), std::memory_order_release);
  return *slot;
}

DebugDataIndex::Answer DebugDataIndex::LookUpInDecoded(const DecodedUnit& unit, std::uint32_t code_offset,
                                                       const CodeBytesReader& code, DebugLocation& location) const {
  // Each range ends where the next starts, so only the last range starting
  // at or before the offset can hold it. Decoding in table order would have
  // stopped at the first range past the offset; reaching the damage before
  // that is the damage's answer.
  const auto after = std::upper_bound(unit.Ranges.begin(), unit.Ranges.end(), code_offset,
                                      [](std::uint32_t offset, const Range& r) { return offset < r.Start; });
  if (after != unit.Ranges.begin()) {
    const Range& range = *(after - 1);
    if (std::uint64_t{code_offset} < std::uint64_t{range.Start} + range.Size) {
      if (!unit.UnitName) return Answer::kDamaged;
      static const std::string kNone;
      const Procedure* procedure =
          range.Procedure >= 0 ? &unit.Procedures[static_cast<std::size_t>(range.Procedure)] : nullptr;
      LineRange line_range;
      line_range.Start = range.Start;
      line_range.Size = range.Size;
      line_range.Line = range.Line;
      line_range.HasProcedure = procedure != nullptr;
      line_range.ClassName = procedure != nullptr ? &procedure->ClassName : &kNone;
      line_range.ProcedureName = procedure != nullptr ? &procedure->Name : &kNone;
      line_range.ProcedureFirstLine = procedure != nullptr ? procedure->FirstLine : 0;
      line_range.ProcedureStart = procedure != nullptr ? procedure->Start : 0;
      location.UnitName = *unit.UnitName;
      location.ClassName = *line_range.ClassName;
      location.ProcedureName = *line_range.ProcedureName;
      location.Line = range.Line;
      location.ProcedureLine = ProcedureLineOf(line_range, code);
      return Answer::kFound;
    }
  }
  if (after == unit.Ranges.end() && unit.Damaged) return Answer::kDamaged;
  return Answer::kNotHere;
}

std::optional<DebugLocation> DebugDataIndex::LookUp(std::uint32_t code_offset, const CodeBytesReader& code) const {
  // Units starting at or before the offset, walked back while some unit
  // could still reach it; stored order decides between overlapping units,
  // as the linear lookup would.
  auto it = std::upper_bound(units_.begin(), units_.end(), code_offset,
                             [](std::uint32_t offset, const Entry& e) { return offset < e.Unit.CodeOffset; });
  // Rarely more than one unit covers an offset: no allocation for a few.
  constexpr std::size_t kInline = 8;
  std::array<const Entry*, kInline> inline_candidates{};
  std::vector<const Entry*> more;
  std::size_t count = 0;
  while (it != units_.begin()) {
    --it;
    if (it->EndSoFar <= code_offset) break;
    if (!it->Unit.Covers(code_offset)) continue;
    if (count < kInline) {
      inline_candidates[count++] = &*it;
    } else {
      if (more.empty()) more.assign(inline_candidates.begin(), inline_candidates.end());
      more.push_back(&*it);
    }
  }
  const std::span<const Entry*> candidates =
      more.empty() ? std::span<const Entry*>(inline_candidates.data(), count) : std::span<const Entry*>(more);
  std::sort(candidates.begin(), candidates.end(),
            [](const Entry* a, const Entry* b) { return a->StoredIndex < b->StoredIndex; });
  for (const Entry* entry : candidates) {
    DebugLocation location;
    switch (LookUpInDecoded(Decoded(*entry), code_offset, code, location)) {
      case Answer::kFound: return location;
      case Answer::kDamaged:
        // The linear lookup stops at the first damaged table it decodes.
        return std::nullopt;
      case Answer::kNotHere: break;
    }
  }
  return std::nullopt;
}

}  // namespace vellum::exceptlog
