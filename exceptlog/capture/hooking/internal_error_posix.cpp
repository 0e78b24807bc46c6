// Natively there is no debugger output channel; standard error stands in.
#include <cstdio>
#include <string>

namespace vellum::exceptlog {

void WriteToDebuggerOutput(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace vellum::exceptlog
