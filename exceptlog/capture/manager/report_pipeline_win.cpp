// The report pipeline: from the module whose options apply to the end of the
// report. Each step stores its progress code first, so that a failure inside
// the pipeline is reported as an internal error naming the step.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "runtime/exception.h"
#include "runtime/win/cpu_context_win.h"
#include "runtime/win/file_time_value_win.h"

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
  return record != nullptr && record->HasDebugData();
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

std::string DefaultReportText(const PipelineReport& report) {
  char address[17];
  std::snprintf(address, sizeof address, "%0*llX", report.wide ? 16 : 8,
                static_cast<unsigned long long>(report.record.RaiseAddress));
  return report.class_name + " at " + address + ": " + report.message;
}

double MinutesNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<double>(win::FileTimeValue(now)) / (10'000'000.0 * 60.0);
}

// The raising thread's stack: the copy the raise hook kept (the frames
// between the raise and the catch point), then the live stack above it.
std::unique_ptr<TRuzadaStackList> RaisingThreadStack(ManagerState& state, const ExceptionRun& run,
                                                     std::uint64_t top_address) {
  auto list = std::make_unique<TRuzadaStackList>();
  const TRaiseState& raise = *run.raise;
  if (raise.walk_valid) {
    // The walk starts at the raise's registers; the copy stands in for the
    // stack it was taken from.
    const std::span<const std::uint8_t> copy(raise.copy, raise.copy_size);
    AddUnwoundStack(*list, *state.modules, {raise.walk, top_address, run.language ? raise.raise_address : 0},
                    {copy, raise.stack_position}, raise.stack_top, run.raising_thread);
  } else if (raise.copy_size != 0) {
    const std::uint64_t copy = ToAddress(raise.copy);
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

// One report on its way through the steps: what they share.
struct ReportRun {
  ReportRun(ManagerState& state_, ExceptionRun& run_, TRuzadaThreadsList& snapshot_)
      : state(state_),
        run(run_),
        snapshot(snapshot_),
        steps(CurrentPipelineSteps()),
        context(ManagerPipelineContext()),
        options(*state_.current_options) {
    GetLocalTime(&started);
  }
  ReportRun(const ReportRun&) = delete;
  ReportRun& operator=(const ReportRun&) = delete;

  ManagerState& state;
  ExceptionRun& run;
  TRuzadaThreadsList& snapshot;
  const PipelineSteps& steps;
  PipelineContext& context;
  TRuzadaModuleOptionsEx& options;
  PipelineReport report;
  std::unique_ptr<TRuzadaStackList> stack;
  SuspendedThreads suspended;
  SYSTEMTIME started{};  // local time the report started
  std::uint64_t top_address = 0;
  bool send_possible = false;

  void Progress(int code) const { state.progress = code; }
};

// The options of the module the exception belongs to become the current ones.
void ApplyModuleOptions(ReportRun& r) {
  r.Progress(ppDropChangedModules);
  // The list names addresses from its modules' images: none may be gone.
  r.state.modules->DropUnloaded();
  r.state.modules->DropChanged();
  const std::shared_ptr<TRuzadaModuleInfo> record = ChooseModule(r.state, r.run);
  r.Progress(ppOptions);
  if (record != nullptr && record->Options != nullptr) r.options.Assign(record->Options.get());
  if (record != nullptr) r.options.SetModuleFileName(record->FileName);
  r.send_possible = r.options.MailMethod() != 0 || r.options.UploadMethod() != 0;
}

// True when a filter takes the exception: its message, if any, is all the
// user sees.
bool Filtered(const ReportRun& r) {
  r.Progress(ppFilter);
  if (!r.options.FilterEnabled()) return false;
  const int filter = FindFilter(r.run.class_chain, r.options.FilterClassNames());
  if (filter < 0) return false;
  const auto& messages = r.options.FilterMessages();
  if (filter < static_cast<int>(messages.size()) && !messages[filter].empty()) {
    MessageBoxA(nullptr, messages[filter].c_str(), r.options.GetText(kTextInformationCaption).c_str(), 0x242040);
  }
  return true;
}

// What the catch point left open comes from the raise state.
void CompleteParameters(const ReportRun& r) {
  r.Progress(ppParameters);
  TExceptNotifyParams& params = r.run.params;
  if (params.StackTop == 0) params.StackTop = r.run.raise->stack_top;
  if (params.StackPosition == 0) params.StackPosition = r.run.raise->stack_position;
  if (params.CpuContext == nullptr && r.run.raise->context_valid) params.CpuContext = &r.run.raise->context;
}

// The raising thread's stack, then the other threads' as the options ask.
void CollectCallStacks(ReportRun& r) {
  r.Progress(ppCallStacks);
  r.top_address = r.run.language && r.run.address >= 5 ? r.run.address - 5 : r.run.address;
  r.stack = RaisingThreadStack(r.state, r.run, r.top_address);
  const TStackFlags flags = r.options.StackFlags();
  if (!flags.Contains(skRuntimeThreads) && !flags.Contains(skOtherThreads)) return;
  AddThreadStacks(*r.stack, *r.state.modules, r.snapshot, [&](const TRuzadaThreadRecord& thread) {
    if (thread.ThreadId == r.run.raising_thread) return false;
    return thread.ThreadObject != nullptr ? flags.Contains(skRuntimeThreads) : flags.Contains(skOtherThreads);
  });
}

// The threads the options ask to stop while the report runs; resumed when
// the run ends, however it ends.
void SuspendOtherThreads(ReportRun& r) {
  const TBehaviorFlags behavior = r.options.BehaviorFlags();
  const bool any = behavior.Contains(bfSuspendRuntimeThreads) || behavior.Contains(bfSuspendOtherThreads);
  ScopedReadLock guard(r.snapshot.Lock());
  for (int i = 0; i < r.snapshot.Count(); ++i) {
    const TRuzadaThreadRecord& thread = *r.snapshot.Items(i);
    if (thread.ThreadId == GetCurrentThreadId() || thread.ThreadId == r.run.raising_thread) continue;
    if (thread.Handle == nullptr) continue;
    const bool wanted = thread.ThreadId == r.state.main_thread_id ? !behavior.Contains(bfKeepMainThreadRunning) && any
                        : thread.ThreadObject != nullptr          ? behavior.Contains(bfSuspendRuntimeThreads)
                                                                  : behavior.Contains(bfSuspendOtherThreads);
    if (wanted) r.suspended.Suspend(thread.Handle);
  }
}

// The report as the steps read it: the record, the registers, the times.
void FillReport(ReportRun& r) {
  r.Progress(ppRecord);
  PipelineReport& report = r.report;
  const TExceptNotifyParams& params = r.run.params;
  report.record.RaisedObject = r.run.error;
  report.record.RaisedException = r.run.object;
  report.record.RaiseAddress = r.top_address;
  report.record.RaiseThreadId = r.run.raising_thread;
  report.record.Modules = r.state.modules.get();
  report.record.StackEntries = r.stack.get();
  report.record.Options = &r.options;
  report.params = &params;
  report.class_name = r.run.class_chain.empty() ? "Exception" : r.run.class_chain.front();
  report.message = r.run.message;
  report.console = r.state.self.console;
  report.web_program = IsWebProgram();
  report.class_known = !r.run.class_chain.empty();
  report.wide = sizeof(void*) == 8;
  if (params.CpuContext != nullptr) {
    const CONTEXT& context = *params.CpuContext;
    if (const auto registers = win::X86GeneralRegisters(context)) {
      const auto& r = *registers;
      report.context = PipelineRegisters{r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]};
    } else if (const auto wide = win::X64GeneralRegisters(context)) {
      const auto& r = *wide;
      report.context =
          PipelineRegisters64{r[0], r[1],  r[2],  r[3],  r[4],  r[5],  r[6],  r[7],  r[8],
                              r[9], r[10], r[11], r[12], r[13], r[14], r[15], r[16], static_cast<std::uint32_t>(r[17])};
    }
    report.stack_pointer = win::StackPointer(context);
    const TRaiseState& raise = *r.run.raise;
    report.stack_copy = std::span<const std::uint8_t>(raise.copy, raise.copy_size);
    report.stack_copy_address = raise.stack_position;
  } else {
    report.stack_pointer = params.StackPosition;
  }
  report.focused_control_class = params.ActiveControlClass;
  report.focused_control_text = params.ActiveControlText;
  report.subsystem_start = LocalDateTime(r.state.start_time);
  report.pipeline_start = LocalDateTime(r.started);
  report.main_thread_id = r.state.main_thread_id;
  report.subsystem_module = ToAddress(r.state.self.module);
  report.threads = &r.snapshot;
  report.set_progress = [&state = r.state](int code) { state.progress = code; };
}

// The report text, published as the running record that handlers read.
void BuildReportText(ReportRun& r) {
  r.Progress(ppReportText);
  PipelineReport& report = r.report;
  report.record.ReportText = r.steps.build_report ? r.steps.build_report(report, r.context) : DefaultReportText(report);
  report.text_to_send = report.record.ReportText;
  r.Progress(ppPublished);
  r.state.record = report.record;
  r.state.current_record.store(&r.state.record);
}

// Asked again after every user event handler: a handler may change the
// options (the log's path among them) or the report's text.
void CheckDuplicate(ReportRun& r) {
  r.Progress(ppDuplicates);
  if (r.options.LogFlags().Contains(lfSkipDuplicates) && r.steps.is_duplicate) {
    r.report.duplicate = r.steps.is_duplicate(r.report, r.context);
  }
}

// Before any dialog covers the screen; a web program's last page with it.
void TakeScreenshot(ReportRun& r) {
  r.Progress(ppScreenshot);
  if (r.options.SendFlags().Contains(sfScreenshot) && r.steps.take_screenshot)
    r.steps.take_screenshot(r.report, r.context);
  if (CurrentWebHost() == whCgi) ReadLastHtmlPageFile();
  r.report.last_html_page = LastHtmlPage();
}

// The burst count, the custom data handlers' text and the error count.
void CountAndAddCustomData(ReportRun& r) {
  r.Progress(ppReporting);
  PipelineReport& report = r.report;
  if (r.options.BehaviorFlags().Contains(bfBurstCheck)) r.state.bursts.Append(MinutesNow(), r.options.BurstCount());
  report.custom_data = r.context.FireCustomData(r.state.record);
  if (!report.custom_data.empty() && r.steps.add_custom_data) {
    report.record.ReportText = r.steps.add_custom_data(report, r.context);
    r.state.record.ReportText = report.record.ReportText;
    report.text_to_send = report.record.ReportText;
  }
  if (HasHandler(&TDeveruVuz::OnCustomDataRequest)) CheckDuplicate(r);
  r.Progress(ppCounting);
  report.error_count = ++r.state.error_count;
}

// The choices the display starts from.
void PrepareDisplay(ReportRun& r) {
  r.Progress(ppDisplay);
  PipelineReport& report = r.report;
  report.send_chosen = r.send_possible;
  report.attach_screenshot = r.options.SendFlags().Contains(sfScreenshot);
  report.copy_to_clipboard = r.state.copy_choice;
  report.confirm_terminate = [&r] { return r.context.FireAction(r.state.record, atTerminating); };
}

// True when the report is shown in a web page to the visitor.
bool ShowsWebPage(const ReportRun& r) {
  return r.run.kind == rkOtherHost || (r.run.kind == rkGeneral && IsWebProgram());
}

void WarnWebPage(std::string_view section, std::string_view message) {
  ManagerPipelineContext().Warn(eeShowError, section, std::make_exception_ptr(Exception(std::string(message))));
}

// The report shown where the program's user looks: the visitor's page, the
// console, or the dialog.
void ShowReport(ReportRun& r) {
  const std::string heading = r.options.GetText(kTextDialogErrorMessage) + "\r\n\r\n";
  if (ShowsWebPage(r)) {
    ShowWebErrorPage(r.options, heading + r.report.record.ReportText, &WarnWebPage);
  } else if (r.state.self.console) {
    // One write, heading first, the report's own line breaks kept: a report
    // folded into one line is unreadable in a console.
    const std::string text = heading + r.report.record.ReportText + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  } else if (r.steps.show_dialog) {
    r.steps.show_dialog(r.report, r.context);
  } else {
    MessageBoxA(nullptr, r.report.message.c_str(), r.options.GetText(kTextDialogCaption).c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
  }
}

// The display with its notifications. True when the options ask for it.
bool Display(ReportRun& r) {
  PrepareDisplay(r);
  if (!r.options.DialogFlags().Contains(dfShowDialog)) {
    // A web program's visitor is still owed an answer, if only the message.
    if (IsWebProgram()) {
      try {
        ShowWebErrorPage(r.options, r.report.message, &WarnWebPage);
      } catch (...) {
        r.context.Warn(eeShowError, "Web", std::current_exception());
      }
    }
    return false;
  }
  r.Progress(ppShowing);
  if (!r.context.FireAction(r.state.record, atShowingExceptionInfo)) return true;
  r.Progress(ppShow);
  try {
    ShowReport(r);
  } catch (...) {
    r.context.Warn(eeShowError,
                   ShowsWebPage(r)        ? "Web"
                   : r.state.self.console ? "Console"
                                          : "GUI",
                   std::current_exception());
  }
  r.Progress(ppShowed);
  r.context.FireAction(r.state.record, atShowedExceptionInfo);
  return true;
}

void AskReproduceSteps(ReportRun& r) {
  if (!r.options.LogFlags().Contains(lfAskReproduceSteps) || !r.steps.ask_reproduce_steps) return;
  r.steps.ask_reproduce_steps(r.report, r.context);
  r.state.record.ReportText = r.report.record.ReportText;
}

// Saved for the delivery when it goes with the report; released in any case.
void SaveOrReleaseScreenshot(ReportRun& r, bool sending) {
  if (sending && r.report.attach_screenshot && r.steps.save_screenshot) r.steps.save_screenshot(r.report, r.context);
  if (r.steps.release_screenshot) r.steps.release_screenshot(r.report, r.context);
}

void WriteLog(ReportRun& r) {
  r.Progress(ppLog);
  if (r.options.LogFlags().Contains(lfResetOnNewVersion) && r.steps.reset_log_on_new_version) {
    r.steps.reset_log_on_new_version(r.report, r.context);
  }
  if (r.options.SaveLog() && r.steps.save_log) r.steps.save_log(r.report, r.context);
  if (r.report.copy_to_clipboard && r.steps.copy_to_clipboard) r.steps.copy_to_clipboard(r.report, r.context);
}

void Send(ReportRun& r, bool sending) {
  r.Progress(ppSend);
  if (sending && r.steps.send) r.steps.send(r.report, r.context);
}

// Everything after the exception notification said the report is wanted.
void HandleReport(ReportRun& r) {
  if (HasHandler(&TDeveruVuz::OnExceptionNotify)) CheckDuplicate(r);
  CountAndAddCustomData(r);
  r.Progress(ppMessageText);
  const bool shown = Display(r);
  AskReproduceSteps(r);
  r.state.copy_choice = r.report.copy_to_clipboard;
  const bool sending = SendingWillHappen({.send_possible = r.send_possible,
                                          .duplicate = r.report.duplicate,
                                          .dialog_shown = shown,
                                          .user_kept_send_choice = r.report.send_chosen});
  SaveOrReleaseScreenshot(r, sending);
  WriteLog(r);
  Send(r, sending);
}

// The end of a report: the watchers, the stack freed, and without a send
// thread of its own the burst check and the terminate or restart (a report
// that is not sent still ends the program the user asked to end).
void Finish(ReportRun& r, bool handled) {
  if (r.steps.reported) r.steps.reported(r.report, r.context);
  r.Progress(ppFreeStack);
  r.stack.reset();
  r.state.record.StackEntries = nullptr;
  r.Progress(ppTerminate);
  if (handled && !r.report.post_send_in_thread) {
    RunPostSendSteps(r.state, r.state.record, r.report.terminate);
  }
}

// The steps of one report, in order. True when the default handling is to go
// on (a filter or a handler took the exception, or a thread procedure's
// report that only wanted the stacks).
bool RunSteps(ReportRun& r) {
  ApplyModuleOptions(r);
  if (r.run.raiser != rtThreadProcedure && Filtered(r)) return false;
  CompleteParameters(r);
  CollectCallStacks(r);
  if (r.run.raiser == rtThreadProcedure) return true;
  // The raising thread may still be asking the focused control for its
  // text: no thread is stopped before it has it.
  WaitForWindowFacts(r.run);
  SuspendOtherThreads(r);
  r.Progress(ppHandled);
  if (r.options.LogFlags().Contains(lfModulesSection)) r.state.modules->CollectAll();
  FillReport(r);
  BuildReportText(r);
  CheckDuplicate(r);
  r.Progress(ppLastError);
  r.state.last_error = {};
  TakeScreenshot(r);
  const bool handled = r.context.FireExceptionNotify(r.state.record);
  r.Progress(ppReporting);
  if (handled) HandleReport(r);
  Finish(r, handled);
  return !handled;
}

}  // namespace

bool RunPipeline(ManagerState& state, ExceptionRun& run) {
  const InsidePipeline inside;
  state.progress = ppStarting;
  state.last_reported_address = run.address;
  try {
    // A copy of the threads list: threads may end and leave it while the
    // report reads their records.
    TRuzadaThreadsList snapshot(*state.threads);
    ReportRun report_run(state, run, snapshot);
    return RunSteps(report_run);
  } catch (...) {
    ReportPipelineFailure(std::current_exception(), run.address);
  }
  return true;
}

}  // namespace vellum::exceptlog
