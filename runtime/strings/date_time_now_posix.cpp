#include <sys/time.h>

#include <ctime>

#include "runtime/strings/date_time.h"

namespace vellum {

DateTime Now() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return DateTime{local.tm_year + 1900,
                  local.tm_mon + 1,
                  local.tm_mday,
                  local.tm_hour,
                  local.tm_min,
                  local.tm_sec,
                  static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace vellum
