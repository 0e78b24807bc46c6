// Stands in for Vellum's program file in the band's launch test: started by
// WinExec, it writes the file that VELLUM_LAUNCH_MARKER (inherited from the
// test) names, so the test sees that it ran.
#include <windows.h>

int main() {
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA("VELLUM_LAUNCH_MARKER", path, MAX_PATH) == 0) return 2;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, "launched", 8, &written, nullptr);
  CloseHandle(file);
  return 0;
}
