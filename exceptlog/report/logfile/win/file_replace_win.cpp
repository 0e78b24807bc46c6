#include <windows.h>

#include "exceptlog/report/logfile/file_replace.h"

namespace vellum::exceptlog {

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  // Write-through: the rename is on disk when the call returns, so a power
  // loss right after a save does not bring the old log back.
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace vellum::exceptlog
