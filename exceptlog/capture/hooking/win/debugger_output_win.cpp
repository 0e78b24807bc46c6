#include <windows.h>

#include <string>

namespace vellum::exceptlog {

void WriteToDebuggerOutput(const std::string& line) {
  OutputDebugStringA(line.c_str());
}

}  // namespace vellum::exceptlog
