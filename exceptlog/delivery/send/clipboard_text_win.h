// The report text on the clipboard, for a user who chose to copy it and for
// a delivery that failed.
#pragma once

#include <string>

namespace vellum::exceptlog {

// Puts `text` on the clipboard as CF_TEXT, opened for the first visible
// window of the process; false when the clipboard cannot be had.
bool CopyTextToClipboard(const std::string& text);

}  // namespace vellum::exceptlog
