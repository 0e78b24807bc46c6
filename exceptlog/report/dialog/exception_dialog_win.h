// The exception dialog ("EL_Dialog"): a message box's look in compact mode,
// the report pages in detailed mode, and the user's choices handed back;
// and the request for the steps that reproduce the error ("EL_Request").
#pragma once

#include <functional>
#include <string>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/dialog/dialog_content.h"

namespace vellum::exceptlog {

struct ExceptionDialogInput {
  const TRuzadaModuleOptions* options = nullptr;
  DialogContent content;
  bool duplicate = false;  // the log holds this report already: nothing to send
  int error_count = 1;     // errors of the process so far, this one included
  // The choices before the dialog; the check boxes start from them.
  bool send_choice = false;
  bool screenshot_choice = false;
  bool copy_choice = false;
  // Asked when the user pressed terminate or restart; false brings the
  // dialog back (an `atTerminating` handler said no).
  std::function<bool()> confirm_terminate;
};

struct ExceptionDialogResult {
  bool send = false, screenshot = false, copy = false;
  bool terminate = false;
  bool shown = false;  // false: the dialog never painted and a message box stood in
};

// Runs the dialog modally on the calling thread; returns when the user is done.
ExceptionDialogResult ShowExceptionDialog(const ExceptionDialogInput& input);

// Runs "EL_Request"; the user's text, trimmed (empty when none was given).
std::string AskReproduceStepsText(const TRuzadaModuleOptions& options);

}  // namespace vellum::exceptlog
