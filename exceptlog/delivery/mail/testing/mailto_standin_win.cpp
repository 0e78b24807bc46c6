// A stand-in mail program for the mailto: protocol: records its command
// line in the file named by VELLUM_MAIL_STANDIN_RECORD, shows a window, and
// records whether that window was made topmost before it ends by itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

void Record(const char* line) {
  // The test sets its environment through Win32, which the C runtime's copy
  // of it does not follow.
  char file_name[MAX_PATH] = {};
  if (GetEnvironmentVariableA("VELLUM_MAIL_STANDIN_RECORD", file_name, MAX_PATH) == 0) return;
  if (FILE* file = std::fopen(file_name, "ab")) {
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  Record(GetCommandLineA());
  const HWND window =
      CreateWindowExA(0, "STATIC", "Compose", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
  ShowWindow(window, show);
  // Waiting in GetMessage is what makes the program idle for its starter.
  SetTimer(nullptr, 0, 20, nullptr);
  bool topmost = false;
  const DWORD start = GetTickCount();
  MSG message;
  while (!topmost && GetTickCount() - start < 15000 && GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
    topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  }
  Record(topmost ? "topmost=1" : "topmost=0");
  DestroyWindow(window);
  return 0;
}
