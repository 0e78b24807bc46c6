// The texts of the WinInet failures an upload can meet, for a response text
// when the server said nothing itself.
#pragma once

#include <cstdint>
#include <string>

namespace vellum::exceptlog {

// Empty for a code the table does not know.
std::string WinInetErrorText(std::int32_t code);

}  // namespace vellum::exceptlog
