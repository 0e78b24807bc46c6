#include <cstdio>

#include "exceptlog/report/logfile/file_replace.h"

namespace vellum::exceptlog {

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  return std::rename(source.c_str(), target.c_str()) == 0;
}

}  // namespace vellum::exceptlog
