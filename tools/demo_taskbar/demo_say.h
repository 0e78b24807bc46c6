// What the demo taskbar tells its watcher: one line at a time, flushed at
// once, so a script that reads the output sees each step as it happens.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace vellum::demo {

inline void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace vellum::demo
