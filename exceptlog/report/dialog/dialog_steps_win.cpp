#include "exceptlog/report/dialog/dialog_steps_win.h"

#include "exceptlog/report/dialog/exception_dialog_win.h"
#include "exceptlog/report/system/report_entry_win.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

void ShowDialogStep(PipelineReport& report, PipelineContext& context) {
  const TRuzadaModuleOptions& options = *report.record.Options;
  const ReportTexts no_texts;  // a module without the report builder's step
  const ReportTexts& texts = report.texts ? *report.texts : no_texts;
  ExceptionDialogInput input;
  input.options = &options;
  input.content.message = !texts.compact_message.empty() ? texts.compact_message : report.message;
  input.content.general = texts.general;
  input.content.cpu = texts.cpu;
  input.content.custom_data = report.custom_data;
  input.content.call_stack = CallStackPageRows(options, ReportCallStackInput(report));
  if (options.LogFlags().Contains(lfModulesSection))
    input.content.modules = ModulesPageRows(ReportModuleRows(report), ReportAddressWidth(report));
  input.duplicate = report.duplicate;
  input.error_count = report.error_count;
  input.send_choice = report.send_chosen;
  input.screenshot_choice = report.attach_screenshot;
  input.copy_choice = report.copy_to_clipboard;
  input.confirm_terminate = report.confirm_terminate;

  const ExceptionDialogResult result = ShowExceptionDialog(input);
  report.send_chosen = result.send;
  report.attach_screenshot = result.screenshot;
  report.copy_to_clipboard = result.copy;
  report.terminate.requested = result.terminate;
  report.terminate.confirmed = result.terminate && static_cast<bool>(report.confirm_terminate);
  if (!result.shown) {
    context.Warn(eeShowError, "GUI", std::make_exception_ptr(Exception("Cannot show the DialogBox window.")));
  }
}

void AskReproduceStepsStep(PipelineReport& report, PipelineContext&) {
  const TRuzadaModuleOptions& options = *report.record.Options;
  if (!options.LogFlags().Contains(lfAskReproduceSteps) || report.duplicate || report.console) return;
  if (options.MailMethod() == 0 && options.UploadMethod() == 0 && !options.SaveLog()) return;
  const std::string steps = AskReproduceStepsText(options);
  if (steps.empty()) return;
  report.record.ReportText = AddReproduceStepsStep(report, steps);
}

void AddDialogSteps(PipelineSteps& steps) {
  steps.show_dialog = &ShowDialogStep;
  steps.ask_reproduce_steps = &AskReproduceStepsStep;
}

}  // namespace vellum::exceptlog
