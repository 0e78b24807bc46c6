#include "exceptlog/capture/options/log_file_name.h"

#include <algorithm>
#include <cctype>

namespace vellum::exceptlog {

namespace {

// Position just past the folder part: after the last "\" or drive colon.
std::size_t FileNameStart(std::string_view path) {
  const std::size_t delimiter = path.find_last_of("\\:");
  return delimiter == std::string_view::npos ? 0 : delimiter + 1;
}

// Position of the extension's dot, or the length when there is none.
std::size_t ExtensionStart(std::string_view path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot < FileNameStart(path)) return path.size();
  return dot;
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  return std::string(path.substr(0, ExtensionStart(path))) + std::string(extension);
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

}  // namespace

std::string ComposeLogFileName(std::string_view module_file_name, std::string_view log_file_path,
                               const std::optional<std::string>& computer_name) {
  const std::string module_log = ChangeFileExt(module_file_name, ".elf");
  std::string result;
  if (LowerCase(log_file_path.substr(ExtensionStart(log_file_path))) == ".elf") {
    result = std::string(log_file_path);
  } else {
    std::string folder(log_file_path.empty() ? std::string_view(module_log).substr(0, FileNameStart(module_log))
                                             : log_file_path);
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    result = folder + module_log.substr(FileNameStart(module_log));
  }
  if (computer_name) {
    const std::size_t extension = ExtensionStart(result);
    result = result.substr(0, extension) + '_' + FileNameSafe(*computer_name) + result.substr(extension);
  }
  return result;
}

std::string FileNameSafe(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = '_';
  }
  return result;
}

}  // namespace vellum::exceptlog
