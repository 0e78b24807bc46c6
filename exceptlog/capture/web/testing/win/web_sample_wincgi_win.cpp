// web_sample_wincgi.exe PROFILE [CONTENT [OUTPUT]]: a program of the
// profile-based CGI form with the subsystem inside, whose request always
// fails. Given no such profile, it is an ordinary program with nothing to
// show (its options show no dialog).
#include <windows.h>

#include <exception>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/exception.h"

namespace {

using vellum::Exception;
VELLUM_EXCEPTION_CLASS(ERequestFailed, Exception);

__attribute__((noinline)) void Answer() {
  throw ERequestFailed("The profile's request failed.");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace vellum;
  exceptlog::StartExceptionLog({GetModuleHandleA(nullptr), false, false});
  exceptlog::SetModuleInitializing(false);
  try {
    Answer();
  } catch (...) {
    exceptlog::ReportEscapedException(std::current_exception(), exceptlog::rkGeneral);
  }
  exceptlog::SetModuleFinalizing(true);
  exceptlog::StopExceptionLog();
  return 0;
}
