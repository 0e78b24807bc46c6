// The program's parameters from its command line, split as the C runtime
// splits it for main: a module without a main of its own reads them here
// without loading the shell's library for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

// The program name first (up to a blank, or between quotes, taken as it is),
// then each parameter: blanks separate outside quotes; 2n backslashes before
// a quote give n and the quote opens or closes, 2n+1 give n and a quote;
// other backslashes stay; two quotes inside quotes give one.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

}  // namespace vellum::exceptlog
