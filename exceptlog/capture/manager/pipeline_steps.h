// The steps of the report pipeline that other layers provide: the report
// text, the duplicate check, the screenshot, the display, the log and the
// delivery. The exception manager calls each through this table with the
// report and the pipeline's context; the layer that assembles the subsystem
// in a module fills it in. An empty entry is a step the module does
// without, except the two that have defaults here (the report text and the
// display), so that a report always says something.
//
// What one step makes for a later one travels in the report: the report's
// texts, the screenshot, the open log, the dialog's choices. Their types
// belong to the layers that make them and are only named here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "exceptlog/capture/component/exception_record.h"
#include "exceptlog/capture/manager/pipeline_context.h"
#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

struct TExceptNotifyParams;
class TRuzadaThreadsList;
// Made by the report, the log and the screenshot steps.
struct ReportTexts;
struct OpenLog;
class ScreenCapture;

// The raising thread's registers when the exception came with a context:
// the x86 set in a 32-bit process...
struct PipelineRegisters {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0, esp = 0, eip = 0;
};
// ...the x64 set in a 64-bit one.
struct PipelineRegisters64 {
  std::uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0;
  std::uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
  std::uint64_t rip = 0;
  std::uint32_t eflags = 0;
};

// What a step can read of the running report.
struct PipelineReport {
  TRuzadaExceptionRecord record;  // what handlers get
  const TExceptNotifyParams* params = nullptr;
  std::string class_name;          // of the raised object
  std::string message;             // its message
  std::string custom_data;         // from OnCustomDataRequest
  std::string text_to_send;        // the report, or the whole log with sfWholeLog
  std::string last_html_page;      // a web program's last page to its visitor
  bool console = false;            // a console program
  bool web_program = false;        // a web-server program
  bool duplicate = false;          // set by the duplicate check
  bool send_chosen = true;         // the dialog's send choice
  bool attach_screenshot = false;  // the dialog's screenshot choice
  bool copy_to_clipboard = false;  // the dialog's copy choice
  TerminateRequest terminate;      // the dialog's terminate or restart button
  int error_count = 0;             // errors of the process so far, this one included
  // Asks the `atTerminating` handlers; false: one of them said no.
  std::function<bool()> confirm_terminate;
  // Set by the send step when a send thread of its own delivers: the burst
  // check and the terminate or restart are then that thread's.
  bool post_send_in_thread = false;
  std::optional<bool> delivered;  // the result of a delivery in the reporting thread

  // What the report text says beyond the record.
  bool class_known = true;  // the raised object is an object of a known class
  // None: the exception came without registers.
  std::variant<std::monostate, PipelineRegisters, PipelineRegisters64> context;
  bool wide = false;                // a 64-bit process's report
  std::uint64_t stack_pointer = 0;  // where the stack dump starts
  // The raising thread's stack as the raise left it, from `stack_copy_address`
  // on: by the time the report is made the catch point's calls have
  // overwritten the live stack there.
  std::span<const std::uint8_t> stack_copy;
  std::uint64_t stack_copy_address = 0;
  std::string focused_control_class;  // captured by the dispatcher
  std::string focused_control_text;   // password edits masked
  DateTime subsystem_start;           // local time the subsystem started
  DateTime pipeline_start;            // local time this report started
  std::uint32_t main_thread_id = 0;
  std::uint64_t subsystem_module = 0;     // handle of the module carrying the subsystem
  TRuzadaThreadsList* threads = nullptr;  // the report's snapshot of the threads list
  std::function<void(int)> set_progress;  // stages inside a step, for failure reports

  // What the steps made for later ones.
  std::shared_ptr<ReportTexts> texts;         // the report's parts, from build_report
  std::shared_ptr<ScreenCapture> screenshot;  // from take_screenshot until release_screenshot
  std::shared_ptr<OpenLog> log;               // open from the duplicate test to the save
};

struct PipelineSteps {
  template <typename Result, typename Report>
  using Step = std::function<Result(Report&, PipelineContext&)>;

  // The full report text (default: the class and the message).
  Step<std::string, PipelineReport> build_report;
  // The full report text with the custom data handlers' text added (none:
  // the text stays as built).
  Step<std::string, PipelineReport> add_custom_data;
  // True when the log already holds this report.
  Step<bool, PipelineReport> is_duplicate;
  Step<void, PipelineReport> take_screenshot;
  // The exception dialog of a program with windows (default: a message box
  // with the message); may set send_chosen, copy_to_clipboard, terminate.
  Step<void, PipelineReport> show_dialog;
  Step<void, PipelineReport> ask_reproduce_steps;
  Step<void, const PipelineReport> save_screenshot;
  Step<void, PipelineReport> release_screenshot;
  Step<void, PipelineReport> reset_log_on_new_version;
  // May replace the text to send by the whole log.
  Step<void, PipelineReport> save_log;
  Step<void, const PipelineReport> copy_to_clipboard;
  Step<void, PipelineReport> send;
  // After every report: what a test or the crash sample watches.
  Step<void, const PipelineReport> reported;
  // What reports will ask of the machine and that changes rarely, gathered
  // ahead on a thread of the manager's once per start, outside the loader
  // lock; handed the module carrying the subsystem.
  std::function<void(std::uint64_t subsystem_module)> gather_ahead;
};

// Replaces the table (process-wide for this module) and answers the old one.
PipelineSteps SetPipelineSteps(PipelineSteps steps);
const PipelineSteps& CurrentPipelineSteps();

}  // namespace vellum::exceptlog
