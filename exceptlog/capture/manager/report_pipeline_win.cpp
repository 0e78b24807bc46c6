// The report pipeline: from the module whose options apply to the end of the
// report. Each step stores its progress code first, so that a failure inside
// the pipeline is reported as an internal error naming the step.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "exceptlog/capture/callstack/debug_info.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/component_events_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

namespace {

// Pairs SuspendThread with ResumeThread for the threads the options ask to
// stop while the report runs: resumed on every way out.
class SuspendedThreads {
 public:
  SuspendedThreads() = default;
  ~SuspendedThreads() {
    for (HANDLE thread : suspended_) ResumeThreadDirectly(thread);
  }
  SuspendedThreads(const SuspendedThreads&) = delete;
  SuspendedThreads& operator=(const SuspendedThreads&) = delete;
  void Suspend(HANDLE thread) {
    if (SuspendThread(thread) != static_cast<DWORD>(-1)) suspended_.push_back(thread);
  }

 private:
  std::vector<HANDLE> suspended_;
};

// Marks the calling thread as running a report: its own raises are not
// recorded and the thread bookkeeping ignores its resumes.
class InsidePipeline {
 public:
  InsidePipeline() : state_(CurrentRaiseState()) { state_.inside_pipeline = true; }
  ~InsidePipeline() { state_.inside_pipeline = false; }
  InsidePipeline(const InsidePipeline&) = delete;
  InsidePipeline& operator=(const InsidePipeline&) = delete;

 private:
  TRaiseState& state_;
};

bool HasDebugData(const std::shared_ptr<TRuzadaModuleInfo>& record) {
  return record != nullptr && record->DebugData != nullptr;
}

// The record whose options and debug data the report uses.
std::shared_ptr<TRuzadaModuleInfo> ChooseModule(ManagerState& state, const ExceptionRun& run) {
  TRuzadaModulesList& modules = *state.modules;
  state.progress = ppModuleByAddress;
  std::shared_ptr<TRuzadaModuleInfo> record = modules.FindByAddress(run.address);
  state.progress = ppModuleByHandle;
  if (record == nullptr && run.module != nullptr) record = modules.FindOrCreate(run.module);
  state.progress = ppHostModule;
  HMODULE host = run.module == state.self.module ? GetModuleHandleA(nullptr) : state.self.module;
  std::shared_ptr<TRuzadaModuleInfo> host_record = modules.FindOrCreate(host);
  if (!HasDebugData(record) && HasDebugData(host_record)) record = host_record;
  if (state.current_options->BehaviorFlags().Contains(bfUseMainModuleInfo) && HasDebugData(host_record)) {
    record = host_record;
  }
  if (record == nullptr || record->Options == nullptr) record = modules.FindOrCreate(state.self.module);
  return record;
}

// A web page that could not reach its visitor.
void WarnWebPage(std::string_view section, std::string_view message) {
  ReportDeliveryWarning(eeShowError, section, std::make_exception_ptr(Exception(std::string(message))));
}

std::string DefaultReportText(const PipelineReport& report) {
  char address[16];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(report.record.RaiseAddress));
  return report.class_name + " at " + address + ": " + report.message;
}

void DefaultDialog(const PipelineReport& report, const TRuzadaModuleOptions& options) {
  MessageBoxA(nullptr, report.message.c_str(), options.GetText(2).c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// The same command line, from the folder the program started in.
void Restart(const ManagerState& state) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command_line = GetCommandLineA();
  if (CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     state.start_folder.empty() ? nullptr : state.start_folder.c_str(), &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

double MinutesNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks) / (10'000'000.0 * 60.0);
}

// The raising thread's stack: the copy the raise hook kept (the frames
// between the raise and the catch point), then the live stack above it.
std::unique_ptr<TRuzadaStackList> RaisingThreadStack(ManagerState& state, const ExceptionRun& run,
                                                     std::uint32_t top_address) {
  auto list = std::make_unique<TRuzadaStackList>();
  const TRaiseState& raise = *run.raise;
  if (raise.copy_size != 0) {
    const auto copy = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(raise.copy));
    AddStack(*list, *state.modules, top_address, copy, copy + raise.copy_size, true, run.raising_thread);
    if (raise.stack_top > raise.stack_position + raise.copy_size) {
      AddStack(*list, *state.modules, 0, raise.stack_position + raise.copy_size, raise.stack_top, true,
               run.raising_thread);
    }
  } else if (raise.stack_position != 0 && raise.stack_top > raise.stack_position) {
    AddStack(*list, *state.modules, top_address, raise.stack_position, raise.stack_top, true, run.raising_thread);
  }
  return list;
}

DateTime LocalDateTime(const SYSTEMTIME& time) {
  return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds};
}

// The burst check after a delivery: too many reports too fast end or
// restart the program as BurstAction says.
void CheckBurst(ManagerState& state) {
  TRuzadaModuleOptionsEx& options = *state.current_options;
  if (options.BehaviorFlags().Contains(bfBurstCheck) &&
      state.bursts.IsBurst(options.BurstCount(), options.BurstMinutes())) {
    options.SetTerminateAction(options.BurstAction());
    state.terminate_request = true;
  }
}

// `confirmed`: the dialog asked the atTerminating handlers already.
void TerminateOnRequest(ManagerState& state, bool confirmed) {
  if (!state.terminate_request) return;
  if (confirmed || FireAction(state.record, atTerminating)) {
    if (state.current_options->TerminateAction() == 1) Restart(state);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  state.terminate_request = false;
}

bool RunSteps(ManagerState& state, ExceptionRun& run, TRuzadaThreadsList& snapshot) {
  const PipelineSteps& steps = CurrentPipelineSteps();
  SYSTEMTIME now;
  GetLocalTime(&now);
  const DateTime pipeline_start = LocalDateTime(now);
  TRuzadaModuleOptionsEx& options = *state.current_options;

  state.progress = ppDropChangedModules;
  state.modules->DropChanged();
  const std::shared_ptr<TRuzadaModuleInfo> record = ChooseModule(state, run);
  state.progress = ppOptions;
  if (record != nullptr && record->Options != nullptr) options.Assign(record->Options.get());
  if (record != nullptr) options.SetModuleFileName(record->FileName);
  const bool send_possible = options.MailMethod() != 0 || options.UploadMethod() != 0;

  if (run.raiser != rtThreadProcedure) {
    state.progress = ppFilter;
    if (options.FilterEnabled()) {
      const int filter = FindFilter(run.class_chain, options.FilterClassNames());
      if (filter >= 0) {
        const auto& messages = options.FilterMessages();
        if (filter < static_cast<int>(messages.size()) && !messages[filter].empty()) {
          MessageBoxA(nullptr, messages[filter].c_str(), options.GetText(0).c_str(), 0x242040);
        }
        return false;
      }
    }
  }

  state.progress = ppParameters;
  TExceptNotifyParams& params = run.params;
  if (params.StackTop == 0) params.StackTop = run.raise->stack_top;
  if (params.StackPosition == 0) params.StackPosition = run.raise->stack_position;
  if (params.CpuContext == nullptr && run.raise->context_valid) params.CpuContext = &run.raise->context;

  state.progress = ppCallStacks;
  const std::uint32_t top_address = run.language && run.address >= 5 ? run.address - 5 : run.address;
  std::unique_ptr<TRuzadaStackList> stack = RaisingThreadStack(state, run, top_address);
  const TStackFlags stack_flags = options.StackFlags();
  if (stack_flags.Contains(skRuntimeThreads) || stack_flags.Contains(skOtherThreads)) {
    AddThreadStacks(*stack, *state.modules, snapshot, [&](const TRuzadaThreadRecord& thread) {
      if (thread.ThreadId == run.raising_thread) return false;
      return thread.ThreadObject != nullptr ? stack_flags.Contains(skRuntimeThreads)
                                            : stack_flags.Contains(skOtherThreads);
    });
  }
  if (run.raiser == rtThreadProcedure) return true;

  SuspendedThreads suspended;
  const TBehaviorFlags behavior = options.BehaviorFlags();
  {
    ScopedReadLock guard(snapshot.Lock());
    for (int i = 0; i < snapshot.Count(); ++i) {
      const TRuzadaThreadRecord& thread = *snapshot.Items(i);
      if (thread.ThreadId == GetCurrentThreadId() || thread.ThreadId == run.raising_thread) continue;
      if (thread.Handle == nullptr) continue;
      const bool main = thread.ThreadId == state.main_thread_id;
      const bool wanted =
          main ? !behavior.Contains(bfKeepMainThreadRunning) &&
                     (behavior.Contains(bfSuspendRuntimeThreads) || behavior.Contains(bfSuspendOtherThreads))
          : thread.ThreadObject != nullptr ? behavior.Contains(bfSuspendRuntimeThreads)
                                           : behavior.Contains(bfSuspendOtherThreads);
      if (wanted) suspended.Suspend(thread.Handle);
    }
  }

  state.progress = ppHandled;
  if (options.LogFlags().Contains(lfModulesSection)) state.modules->CollectAll();

  state.progress = ppRecord;
  PipelineReport report;
  report.record.RaisedObject = run.error;
  report.record.RaisedException = run.object;
  report.record.RaiseAddress = top_address;
  report.record.RaiseThreadId = run.raising_thread;
  report.record.Modules = state.modules.get();
  report.record.StackEntries = stack.get();
  report.record.Options = &options;
  report.params = &params;
  report.class_name = run.class_chain.empty() ? "Exception" : run.class_chain.front();
  report.message = run.message;
  report.console = state.self.console;
  report.web_program = IsWebProgram();
  report.class_known = !run.class_chain.empty();
  if (params.CpuContext != nullptr) {
    const CONTEXT& context = *params.CpuContext;
    report.context = PipelineRegisters{context.Eax, context.Ebx, context.Ecx, context.Edx,
                                       context.Esi, context.Edi, context.Esp, context.Eip};
    report.stack_pointer = context.Esp;
  } else {
    report.stack_pointer = params.StackPosition;
  }
  report.focused_control_class = params.ActiveControlClass;
  report.focused_control_text = params.ActiveControlText;
  report.subsystem_start = LocalDateTime(state.start_time);
  report.pipeline_start = pipeline_start;
  report.main_thread_id = state.main_thread_id;
  report.subsystem_module = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(state.self.module));
  report.threads = &snapshot;
  report.set_progress = [&state](int code) { state.progress = code; };
  state.progress = ppReportText;
  report.record.ReportText = steps.build_report ? steps.build_report(report) : DefaultReportText(report);
  report.text_to_send = report.record.ReportText;
  state.progress = ppPublished;
  state.record = report.record;
  state.current_record.store(&state.record);
  // Asked again after every user event handler: a handler may change the
  // options (the log's path among them) or the report's text.
  const auto check_duplicate = [&] {
    state.progress = ppDuplicates;
    if (options.LogFlags().Contains(lfSkipDuplicates) && steps.is_duplicate) {
      report.duplicate = steps.is_duplicate(report);
    }
  };
  check_duplicate();
  state.progress = ppLastError;
  state.last_error = {};
  state.progress = ppScreenshot;
  if (options.SendFlags().Contains(sfScreenshot) && steps.take_screenshot) steps.take_screenshot(report);
  if (CurrentWebHost() == whCgi) ReadLastHtmlPageFile();
  report.last_html_page = LastHtmlPage();

  const bool handled = FireExceptionNotify(state.record);
  bool terminate_confirmed = false;
  bool result = true;
  bool post_send_here = true;
  state.progress = ppReporting;
  if (handled) {
    if (HasHandler(&TDeveruVuz::OnExceptionNotify)) check_duplicate();
    state.progress = ppReporting;
    if (behavior.Contains(bfBurstCheck)) state.bursts.Append(MinutesNow(), options.BurstCount());
    report.custom_data = FireCustomData(state.record);
    if (!report.custom_data.empty() && steps.add_custom_data) {
      report.record.ReportText = steps.add_custom_data(report);
      state.record.ReportText = report.record.ReportText;
      report.text_to_send = report.record.ReportText;
    }
    if (HasHandler(&TDeveruVuz::OnCustomDataRequest)) check_duplicate();
    state.progress = ppCounting;
    ++state.error_count;
    state.progress = ppMessageText;

    state.progress = ppDisplay;
    report.send_chosen = send_possible;
    report.attach_screenshot = options.SendFlags().Contains(sfScreenshot);
    report.copy_to_clipboard = state.copy_choice;
    report.error_count = state.error_count;
    report.confirm_terminate = [&state] { return FireAction(state.record, atTerminating); };
    const bool show = options.DialogFlags().Contains(dfShowDialog);
    const bool web_program = IsWebProgram();
    const bool web_page = run.kind == rkOtherHost || (run.kind == rkGeneral && web_program);
    if (show) {
      state.progress = ppShowing;
      if (FireAction(state.record, atShowingExceptionInfo)) {
        state.progress = ppShow;
        try {
          if (web_page) {
            ShowWebErrorPage(options, options.GetText(3) + "\r\n\r\n" + report.record.ReportText, &WarnWebPage);
          } else if (state.self.console) {
            // One write, heading first, the report's own line breaks kept:
            // a report folded into one line is unreadable in a console.
            const std::string text = options.GetText(3) + "\r\n\r\n" + report.record.ReportText + "\r\n";
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
          } else if (steps.show_dialog) {
            steps.show_dialog(report);
          } else {
            DefaultDialog(report, options);
          }
        } catch (...) {
          ReportDeliveryWarning(eeShowError,
                                web_page             ? "Web"
                                : state.self.console ? "Console"
                                                     : "GUI",
                                std::current_exception());
        }
        state.progress = ppShowed;
        FireAction(state.record, atShowedExceptionInfo);
      }
    } else if (web_program) {
      // The visitor is still owed an answer, if only the message.
      try {
        ShowWebErrorPage(options, report.message, &WarnWebPage);
      } catch (...) {
        ReportDeliveryWarning(eeShowError, "Web", std::current_exception());
      }
    }
    if (options.LogFlags().Contains(lfAskReproduceSteps) && steps.ask_reproduce_steps) {
      steps.ask_reproduce_steps(report);
      state.record.ReportText = report.record.ReportText;
    }
    state.copy_choice = report.copy_to_clipboard;
    const bool sending = SendingWillHappen({.send_possible = send_possible,
                                            .duplicate = report.duplicate,
                                            .dialog_shown = show,
                                            .user_kept_send_choice = report.send_chosen});
    if (sending && report.attach_screenshot && steps.save_screenshot) steps.save_screenshot(report);
    if (steps.release_screenshot) steps.release_screenshot(report);

    state.progress = ppLog;
    if (options.LogFlags().Contains(lfResetOnNewVersion) && steps.reset_log_on_new_version) {
      steps.reset_log_on_new_version(report);
    }
    if (options.SaveLog() && steps.save_log) steps.save_log(report);
    if (report.copy_to_clipboard && steps.copy_to_clipboard) steps.copy_to_clipboard(report);

    state.progress = ppSend;
    if (sending && steps.send) steps.send(report);
    if (report.terminate_requested) {
      state.terminate_request = true;
      terminate_confirmed = report.terminate_confirmed;
      if (report.terminate_action >= 0) options.SetTerminateAction(static_cast<std::uint8_t>(report.terminate_action));
    }
    post_send_here = !report.post_send_in_thread;
    if (post_send_here) CheckBurst(state);
    result = false;
  }
  if (steps.reported) steps.reported(report);

  state.progress = ppFreeStack;
  stack.reset();
  state.record.StackEntries = nullptr;

  state.progress = ppTerminate;
  // Without a send thread nobody else would act on the request: a report
  // that is not sent still ends the program the user asked to end.
  if (post_send_here) {
    TerminateOnRequest(state, terminate_confirmed);
  } else {
    state.terminate_confirmed = terminate_confirmed;
  }
  return result;
}

}  // namespace

void RunPostSendSteps() {
  ManagerState* state = State();
  if (state == nullptr) return;
  const CriticalSectionLock lock(state->pipeline_lock);
  CheckBurst(*state);
  TerminateOnRequest(*state, std::exchange(state->terminate_confirmed, false));
}

void ReportSendThreadFailure(const std::exception_ptr& failure) {
  ManagerState* state = State();
  if (state != nullptr) state->progress = ppSend;
  ReportPipelineFailure(failure, state != nullptr ? state->record.RaiseAddress : 0);
}

void RunUnderPipelineLock(const std::function<void()>& body) {
  ManagerState* state = State();
  if (state == nullptr) {
    body();
    return;
  }
  const CriticalSectionLock lock(state->pipeline_lock);
  body();
}

bool RunPipeline(ManagerState& state, ExceptionRun& run) {
  const InsidePipeline inside;
  state.progress = ppStarting;
  state.last_reported_address = run.address;
  try {
    // A copy of the threads list: threads may end and leave it while the
    // report reads their records.
    TRuzadaThreadsList snapshot(*state.threads);
    return RunSteps(state, run, snapshot);
  } catch (...) {
    ReportPipelineFailure(std::current_exception(), run.address);
  }
  return true;
}

}  // namespace vellum::exceptlog
