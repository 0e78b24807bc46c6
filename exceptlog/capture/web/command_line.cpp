#include "exceptlog/capture/web/command_line.h"

namespace vellum::exceptlog {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> parameters;
  std::size_t at = 0;
  const std::size_t size = command_line.size();

  std::string program;
  if (at < size && command_line[at] == '"') {
    const std::size_t end = command_line.find('"', at + 1);
    program = command_line.substr(at + 1, (end == std::string_view::npos ? size : end) - at - 1);
    at = end == std::string_view::npos ? size : end + 1;
  }
  while (at < size && !IsBlank(command_line[at])) program += command_line[at++];
  parameters.push_back(std::move(program));

  for (;;) {
    while (at < size && IsBlank(command_line[at])) ++at;
    if (at >= size) break;
    std::string parameter;
    bool quoted = false;
    while (at < size && (quoted || !IsBlank(command_line[at]))) {
      if (command_line[at] == '\\') {
        std::size_t backslashes = 0;
        while (at < size && command_line[at] == '\\') ++backslashes, ++at;
        if (at < size && command_line[at] == '"') {
          parameter.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            parameter += '"';
            ++at;
          }
        } else {
          parameter.append(backslashes, '\\');
        }
      } else if (command_line[at] == '"') {
        if (quoted && at + 1 < size && command_line[at + 1] == '"') {
          parameter += '"';
          at += 2;
        } else {
          quoted = !quoted;
          ++at;
        }
      } else {
        parameter += command_line[at++];
      }
    }
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

}  // namespace vellum::exceptlog
