// The steps of the report pipeline that other layers provide: the report
// text, the duplicate check, the screenshot, the display, the log and the
// delivery. The exception manager calls each through this table; the layer
// that assembles the subsystem in a module fills it in. An empty entry is a
// step the module does without, except the two that have defaults here (the
// report text and the display), so that a report always says something.
#pragma once

#include <functional>
#include <string>

#include "exceptlog/capture/component/exception_record.h"

namespace vellum::exceptlog {

struct TExceptNotifyParams;

// What a step can read of the running report.
struct PipelineReport {
  TRuzadaExceptionRecord record;  // what handlers get
  const TExceptNotifyParams* params = nullptr;
  std::string class_name;            // of the raised object
  std::string message;               // its message
  std::string custom_data;           // from OnCustomDataRequest
  bool console = false;              // a console program
  bool duplicate = false;            // set by the duplicate check
  bool send_chosen = true;           // the dialog's send choice
  bool copy_to_clipboard = false;    // the dialog's copy choice
  bool terminate_requested = false;  // the dialog's terminate or restart button
  int terminate_action = -1;         // -1: the options decide; else 0 terminate, 1 restart
};

struct PipelineSteps {
  // The full report text (default: the class and the message).
  std::function<std::string(const PipelineReport&)> build_report;
  // True when the log already holds this report.
  std::function<bool(const PipelineReport&)> is_duplicate;
  std::function<void(PipelineReport&)> take_screenshot;
  // The exception dialog of a program with windows (default: a message box
  // with the message); may set send_chosen, copy_to_clipboard,
  // terminate_requested.
  std::function<void(PipelineReport&)> show_dialog;
  std::function<void(PipelineReport&)> ask_reproduce_steps;
  std::function<void(const PipelineReport&)> save_screenshot;
  std::function<void(const PipelineReport&)> release_screenshot;
  std::function<void(const PipelineReport&)> reset_log_on_new_version;
  std::function<void(const PipelineReport&)> save_log;
  std::function<void(const PipelineReport&)> copy_to_clipboard;
  std::function<void(const PipelineReport&)> send;
  // After every report: what a test or the crash sample watches.
  std::function<void(const PipelineReport&)> reported;
};

// Replaces the table (process-wide for this module) and answers the old one.
PipelineSteps SetPipelineSteps(PipelineSteps steps);
const PipelineSteps& CurrentPipelineSteps();

}  // namespace vellum::exceptlog
