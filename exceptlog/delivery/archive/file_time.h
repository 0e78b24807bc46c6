// The last-write time of a file as its directory entry records it (UTC, never
// converted to local time), for the time stamps of archive entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellum::exceptlog {

// Whole seconds since 1970-01-01 00:00 UTC (negative before that day);
// nothing for a missing file or a folder.
std::optional<std::int64_t> FileLastWriteTime(const std::string& file_name);

}  // namespace vellum::exceptlog
