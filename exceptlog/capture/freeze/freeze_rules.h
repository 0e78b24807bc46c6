// What the freeze watchdog decides from what it sees: which top-level window
// is the program's main window, and when a window that stopped answering has
// been silent long enough to be reported.
#pragma once

#include <cstdint>

namespace vellum::exceptlog {

// One probe waits this long for the main window's answer; an unanswered
// probe counts as this much silence.
inline constexpr int kFreezeProbeMilliseconds = 50;
// After an answer the watchdog rests this many probe periods before the next
// probe, checking for a stop request in between.
inline constexpr int kFreezeRestSteps = 5;

struct TopLevelWindowFacts {
  bool of_this_process = false;
  bool visible = false;
  // Owned by a window other than the desktop: a dialog or a helper window.
  bool owned = false;
  bool tool_window = false;  // WS_EX_TOOLWINDOW
  bool app_window = false;   // WS_EX_APPWINDOW: shown on the taskbar even as a tool window
};

bool IsMainWindowCandidate(const TopLevelWindowFacts& window);

// Counts the silence of the watched window, probe by probe.
class FreezeCounter {
 public:
  // A limit below one second would call an answering window frozen (the
  // count starts at zero), so it is raised to one second.
  explicit FreezeCounter(std::int32_t freeze_seconds);

  // One probe's outcome; answers true when the silence has just reached the
  // limit. The count then starts again from zero, so a window that stays
  // silent is reported once per limit.
  bool Probe(bool answered);
  std::int64_t SilentMilliseconds() const { return silent_; }
  std::int64_t LimitMilliseconds() const { return limit_; }

 private:
  std::int64_t limit_;
  std::int64_t silent_ = 0;
};

}  // namespace vellum::exceptlog
