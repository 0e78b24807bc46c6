// Putting a finished file in the place of another in one step, so that a
// reader finds either the old file or the new one, never a part of either.
#pragma once

#include <string>

namespace vellum::exceptlog {

// Renames `source` to `target`, replacing it. False when the system refuses
// (on Windows: another process holds `target` open without sharing its
// deletion); `source` is then left as it was.
bool ReplaceFileWith(const std::string& source, const std::string& target);

}  // namespace vellum::exceptlog
