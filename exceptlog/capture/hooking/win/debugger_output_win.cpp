#include <windows.h>

#include <string>

namespace vellum::hooking {

void WriteToDebuggerOutput(const std::string& line) {
  OutputDebugStringA(line.c_str());
}

}  // namespace vellum::hooking
