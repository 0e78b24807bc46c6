#include "exceptlog/capture/callstack/stack_entry.h"

namespace vellum::exceptlog {

void HideRepeatedEntries(TRuzadaStackList& list, int first) {
  std::vector<TRuzadaDebugInfo>& entries = list.Entries();
  const int count = static_cast<int>(entries.size());
  if (first < 0) first = 0;
  for (int i = count - 2; i >= first; --i) {
    TRuzadaDebugInfo& entry = entries[static_cast<std::size_t>(i)];
    if (!entry.Named()) continue;
    int compared = 0;
    for (int j = i + 1; j < count && compared < 2; ++j) {
      const TRuzadaDebugInfo& later = entries[static_cast<std::size_t>(j)];
      if (!later.Named() || later.Module != entry.Module) continue;
      ++compared;
      if (later.Address == entry.Address) {
        entry.Kind = dkHidden;
        break;
      }
    }
  }
}

}  // namespace vellum::exceptlog
