// crash_sample_console.exe FAULT [N]: a console program with the subsystem
// inside that raises FAULT. Escaping exceptions reach the subsystem through
// the program's catch point in main, as a runtime's default handler would.
#include <cstdlib>
#include <exception>
#include <string>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "tools/crash_sample/sample_faults_win.h"

int main(int argc, char** argv) {
  using namespace vellum;
  crash_sample::StartSubsystem(true);
  exceptlog::SetModuleInitializing(false);
  if (argc < 2) {
    crash_sample::PrintLine(std::string("usage: crash_sample_console FAULT [N]\r\nfaults: ") +
                            crash_sample::FaultNames());
    return 2;
  }
  if (crash_sample::NoteStartAndSeeRestart()) return 0;
  const int argument = argc > 2 ? std::atoi(argv[2]) : 0;
  try {
    if (!crash_sample::RaiseFault(argv[1], argument)) {
      crash_sample::PrintLine(std::string("unknown fault: ") + argv[1]);
      return 2;
    }
  } catch (...) {
    exceptlog::ReportEscapedException(std::current_exception(), exceptlog::rkGeneral);
  }
  crash_sample::PrintLine("survived");
  exceptlog::SetModuleFinalizing(true);
  exceptlog::StopExceptionLog();
  return 0;
}
