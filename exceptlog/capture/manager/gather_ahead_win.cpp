// Gathering ahead: what a report would ask of the machine and what changes
// rarely (the steps' gather_ahead), on a thread of its own at the first
// moment outside the loader lock, so that reports find it ready.
#include <windows.h>

#include <memory>

#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "runtime/win/entry_point_win.h"

namespace vellum::exceptlog {

namespace {

struct GatherJob {
  std::function<void(std::uint64_t)> gather;
  std::uint64_t subsystem_module = 0;
  // Keeps this module loaded while the thread runs its code; given back as
  // the thread ends.
  HMODULE own_reference = nullptr;
};

DWORD WINAPI RunGatherJob(void* parameter) {
  HMODULE reference = nullptr;
  {
    const std::unique_ptr<GatherJob> job(static_cast<GatherJob*>(parameter));
    reference = job->own_reference;
    try {
      job->gather(job->subsystem_module);
    } catch (...) {
      // Nothing gathered: reports ask the system themselves.
    }
  }  // the job is freed before the module may go
  FreeLibraryAndExitThread(reference, 0);
}

}  // namespace

void GatherAheadOnce(ManagerState& state) {
  // Under the loader lock no thread may start; a library's start and stop
  // hold it.
  if (state.self.is_library && (state.initializing.load() || state.finalizing.load())) return;
  const PipelineSteps& steps = CurrentPipelineSteps();
  if (!steps.gather_ahead || state.gathering_started.exchange(true)) return;
  auto job = std::make_unique<GatherJob>();
  job->gather = steps.gather_ahead;
  job->subsystem_module = reinterpret_cast<std::uintptr_t>(state.self.module);
  // The system's own CreateThread: the thread bookkeeping's hook would list
  // this helper among the program's threads in every report.
  auto* create_thread = win::LookUpEntryPoint<decltype(CreateThread)>(GetModuleHandleA("kernel32.dll"), "CreateThread");
  if (create_thread == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                                      reinterpret_cast<LPCSTR>(&RunGatherJob), &job->own_reference)) {
    return;
  }
  HANDLE thread = create_thread(nullptr, 0, &RunGatherJob, job.get(), 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(job->own_reference);
    return;
  }
  static_cast<void>(job.release());  // the thread owns it now
  CloseHandle(thread);
}

}  // namespace vellum::exceptlog
