#include <windows.h>

#include "runtime/strings/date_time.h"

namespace vellum {

DateTime Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return DateTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                  local.wMinute, local.wSecond, local.wMilliseconds};
}

}  // namespace vellum
