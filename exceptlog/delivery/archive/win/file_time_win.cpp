#include <windows.h>

#include "exceptlog/delivery/archive/file_time.h"
#include "runtime/win/file_time_value_win.h"

namespace vellum::exceptlog {
namespace {

// FILETIME counts 100-nanosecond intervals since 1601-01-01.
constexpr std::int64_t kIntervalsPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

}  // namespace

std::optional<std::int64_t> FileLastWriteTime(const std::string& file_name) {
  // The attribute query reads the directory entry without opening the file,
  // so a file that another program holds open exclusively still has a time.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(file_name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(win::FileTimeValue(data.ftLastWriteTime) / kIntervalsPerSecond) -
         kSecondsFrom1601To1970;
}

}  // namespace vellum::exceptlog
