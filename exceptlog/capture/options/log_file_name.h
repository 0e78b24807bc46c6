// Where a module's reports are logged: the module's own name with extension
// ".elf", in `LogFilePath` or beside the module, unless `LogFilePath` itself
// names an ".elf" file. Windows path rules on every platform, because the
// names are Windows names even when the algorithm is tested natively.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

// `computer_name`, when given, is made safe and joined with "_" in front of
// the extension.
std::string ComposeLogFileName(std::string_view module_file_name, std::string_view log_file_path,
                               const std::optional<std::string>& computer_name);

// Every character that a file name cannot hold becomes "_".
std::string FileNameSafe(std::string_view text);

}  // namespace vellum::exceptlog
