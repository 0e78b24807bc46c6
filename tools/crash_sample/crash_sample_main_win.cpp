// crash_sample.exe FAULT [N]: a program with a visible main window and the
// subsystem inside. The fault is raised inside a window message of the main
// window, whose handler hands what escapes to the application object, the
// GUI library's catch point.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/gui/application_win.h"
#include "tools/crash_sample/sample_faults_win.h"

namespace {

constexpr UINT kRaiseFault = WM_APP + 1;
std::string fault_name;
int fault_argument = 0;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  using namespace vellum;
  switch (message) {
    case kRaiseFault:
      try {
        if (!crash_sample::RaiseFault(fault_name, fault_argument)) {
          crash_sample::PrintLine("unknown fault: " + fault_name);
        }
      } catch (...) {
        gui::Application().HandleException(nullptr);
      }
      crash_sample::PrintLine("survived");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace vellum;
  crash_sample::StartSubsystem(false);
  exceptlog::SetModuleInitializing(false);
  if (__argc < 2) {
    crash_sample::PrintLine(std::string("usage: crash_sample FAULT [N]\r\nfaults: ") + crash_sample::FaultNames());
    return 2;
  }
  if (crash_sample::NoteStartAndSeeRestart()) return 0;
  fault_name = __argv[1];
  fault_argument = __argc > 2 ? std::atoi(__argv[2]) : 0;

  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &MainWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = "VellumCrashSample";
  RegisterClassA(&window_class);
  HWND window = CreateWindowA("VellumCrashSample", "Crash sample", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200,
                              nullptr, nullptr, instance, nullptr);
  PostMessageA(window, kRaiseFault, 0, 0);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  exceptlog::SetModuleFinalizing(true);
  exceptlog::StopExceptionLog();
  return 0;
}
