#include "exceptlog/capture/freeze/freeze_rules.h"

#include <algorithm>

namespace vellum::exceptlog {

bool IsMainWindowCandidate(const TopLevelWindowFacts& window) {
  if (!window.of_this_process || !window.visible || window.owned) return false;
  return !window.tool_window || window.app_window;
}

FreezeCounter::FreezeCounter(std::int32_t freeze_seconds) : limit_(std::max<std::int64_t>(freeze_seconds, 1) * 1000) {}

bool FreezeCounter::Probe(bool answered) {
  if (answered) {
    silent_ = 0;
    return false;
  }
  silent_ += kFreezeProbeMilliseconds;
  if (silent_ < limit_) return false;
  silent_ = 0;
  return true;
}

}  // namespace vellum::exceptlog
