// crash_sample_dll.dll: a library with the subsystem inside, for programs
// that load it. Its exports fault inside a call and inside a window message;
// both hand what escapes to the subsystem at the library's boundary. Loaded
// by a program that carries the subsystem too, it forwards its exceptions to
// that program's ExceptionManager.
#include <windows.h>

#include <exception>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/exception.h"
#include "runtime/gui/application_win.h"
#include "tools/crash_sample/sample_faults_win.h"

namespace {

HINSTANCE library_instance = nullptr;
volatile int* volatile null_pointer = nullptr;
volatile int sink = 0;

__attribute__((noinline)) void ReadNullInLibrary() {
  sink = *null_pointer;
}

LRESULT CALLBACK LibraryWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) {
    try {
      throw vellum::EInvalidOperation("Error in a window message of the library.");
    } catch (...) {
      vellum::gui::Application().HandleException(nullptr);
    }
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

extern "C" {

void WINAPI FaultInCall() {
  try {
    ReadNullInLibrary();
  } catch (...) {
    vellum::exceptlog::ReportEscapedException(std::current_exception(), vellum::exceptlog::rkGeneral);
  }
}

void WINAPI FaultInWindowMessage() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &LibraryWindowProc;
  window_class.hInstance = library_instance;
  window_class.lpszClassName = "VellumCrashSampleLibrary";
  RegisterClassA(&window_class);
  HWND window =
      CreateWindowA("VellumCrashSampleLibrary", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, library_instance, nullptr);
  SendMessageA(window, WM_APP, 0, 0);
  DestroyWindow(window);
  UnregisterClassA("VellumCrashSampleLibrary", library_instance);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  using namespace vellum::exceptlog;
  if (reason == DLL_PROCESS_ATTACH) {
    library_instance = instance;
    try {
      StartExceptionLog({instance, true, false});
      if (ExceptionLogActive()) {
        vellum::crash_sample::InstallPipelineSteps();
        vellum::crash_sample::InstallReportPrinter();
      }
      // An error while the library initialises: reported in this thread, as
      // no thread can start under the loader lock.
      if (GetEnvironmentVariableA("CRASH_SAMPLE_FAULT_AT_LOAD", nullptr, 0) != 0) {
        try {
          throw vellum::EInvalidOperation("Error while the library initialises.");
        } catch (...) {
          ReportEscapedException(std::current_exception(), rkGeneral);
        }
      }
    } catch (...) {
      return FALSE;
    }
    SetModuleInitializing(false);
  } else if (reason == DLL_PROCESS_DETACH) {
    SetModuleFinalizing(true);
    try {
      StopExceptionLog();
    } catch (...) {
    }
  }
  return TRUE;
}

}  // extern "C"
