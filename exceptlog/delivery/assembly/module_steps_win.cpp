#include "exceptlog/delivery/assembly/module_steps_win.h"

#include "exceptlog/delivery/screenshot/win/screenshot_win.h"
#include "exceptlog/delivery/send/send_steps_win.h"
#include "exceptlog/report/dialog/dialog_steps_win.h"
#include "exceptlog/report/logfile/log_steps_win.h"
#include "exceptlog/report/system/machine_facts_win.h"
#include "exceptlog/report/system/report_entry_win.h"

namespace vellum::exceptlog {

PipelineSteps ModulePipelineSteps() {
  PipelineSteps steps;
  steps.build_report = &BuildReportStep;
  steps.add_custom_data = &AddCustomDataStep;
  steps.gather_ahead = &GatherMachineFactsAhead;
  AddLogSteps(steps);
  AddDialogSteps(steps);
  AddScreenshotSteps(steps);
  AddSendSteps(steps);
  return steps;
}

}  // namespace vellum::exceptlog
