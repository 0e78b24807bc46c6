// One call-stack entry and the list of them: an address found on a thread's
// stack, resolved to module, unit, class, procedure and line as far as the
// module's debug data or exports allow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/module_info.h"

namespace vellum::exceptlog {

enum : std::uint8_t {
  dkHidden = 0,        // not shown: repeated, or in no module
  dkModule = 1,        // module known, nothing resolved
  dkExportedName = 2,  // procedure from a plain exported name
  dkExportedUnit = 3,  // unit, class and procedure from an exported name
  dkDebugData = 4,     // from the module's debug data, with line
};

struct TRuzadaDebugInfo {
  std::uint8_t Kind = dkHidden;
  // Shared with the module list, so an entry outlives a record that the list
  // drops (a module whose file changed) without dangling.
  std::shared_ptr<const TRuzadaModuleInfo> Module;
  std::uint32_t ThreadId = 0;
  std::uint8_t FromLiveStack = 0;  // 1: a live stack; 0: a saved caller-stack copy
  // Wide enough for a 64-bit process; the 32-bit capture fills the low half.
  std::uint64_t Address = 0;
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::uint32_t Line = 0;
  std::uint32_t ProcedureLine = 0;  // lines after the procedure's first, never negative

  bool Named() const { return Kind >= dkExportedName && Kind <= dkDebugData; }
};

// Owns its entries (by value).
class TRuzadaStackList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TRuzadaDebugInfo& Items(int index) { return items_.at(static_cast<std::size_t>(index)); }
  const TRuzadaDebugInfo& Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void Add(TRuzadaDebugInfo info) { items_.push_back(std::move(info)); }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }

  std::vector<TRuzadaDebugInfo>& Entries() { return items_; }
  const std::vector<TRuzadaDebugInfo>& Entries() const { return items_; }

 private:
  std::vector<TRuzadaDebugInfo> items_;
};

// Hides (kind dkHidden) every named entry from `first` on when one of the
// next two later named entries of the same module has the same address: a
// return address found again in a stale copy a few words away is shown
// once, at its outermost place.
void HideRepeatedEntries(TRuzadaStackList& list, int first);

}  // namespace vellum::exceptlog
