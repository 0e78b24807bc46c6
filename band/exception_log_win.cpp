#include "band/exception_log_win.h"

#include <exception>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/delivery/assembly/module_steps_win.h"
#include "shellext/factory/com_boundary_win.h"

namespace vellum::band {

namespace {

void ReportSafeCall(const std::exception_ptr& error, const char*) {
  exceptlog::ReportEscapedException(error, exceptlog::rkGeneral, exceptlog::rtSafeCall);
}

}  // namespace

void StartBandExceptionLog(HINSTANCE module) noexcept {
  try {
    exceptlog::StartExceptionLog({module, true, false});
    exceptlog::SetPipelineSteps(exceptlog::ModulePipelineSteps());
  } catch (...) {
    return;  // the critical error went to the debugger output
  }
  if (exceptlog::ExceptionLogActive()) shellext::SetComBoundaryHandler(&ReportSafeCall);
}

void BandModuleInitialized() noexcept {
  exceptlog::SetModuleInitializing(false);
}

void BandRunsOutsideLoaderLock() noexcept {
  exceptlog::ModuleRunsOutsideLoaderLock();
}

void BandModuleFinalizing() noexcept {
  exceptlog::SetModuleFinalizing(true);
}

void StopBandExceptionLog() noexcept {
  shellext::SetComBoundaryHandler(nullptr);
  try {
    exceptlog::StopExceptionLog();
  } catch (...) {
  }
}

}  // namespace vellum::band
