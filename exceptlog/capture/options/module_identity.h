// Which module holds the running code. A module's options publish their
// changes only when they are the options of that module.
#pragma once

#include <string>

namespace vellum::exceptlog {

// Full file name of the executable or library this code is linked into.
std::string ThisModuleFileName();

// True when `module_file_name` names the module holding this code.
bool IsModuleOfThisCode(const std::string& module_file_name);

}  // namespace vellum::exceptlog
