#include <sys/stat.h>

#include "exceptlog/delivery/archive/file_time.h"

namespace vellum::exceptlog {

std::optional<std::int64_t> FileLastWriteTime(const std::string& file_name) {
  struct stat info {};
  if (stat(file_name.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtime);
}

}  // namespace vellum::exceptlog
