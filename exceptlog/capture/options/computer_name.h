// The local computer's name as the log file name uses it: at most 15
// characters, as a 16-character buffer holds.
#pragma once

#include <string>

namespace vellum::exceptlog {

inline constexpr std::size_t kComputerNameBufferSize = 16;

// Empty when the system cannot tell.
std::string LocalComputerName();

}  // namespace vellum::exceptlog
