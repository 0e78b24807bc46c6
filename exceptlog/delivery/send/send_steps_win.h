// The pipeline's send and clipboard steps: a report that is to be sent goes
// out in the reporting thread, or, with sfBackgroundThread, in a send thread
// of its own while the program goes on.
#pragma once

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::exceptlog {

// Delivers the pipeline's report as its options say.
void SendReport(PipelineReport& report, PipelineContext& context);

// Fills the send and copy-to-clipboard steps and routes delivery errors to
// the exception manager's warnings.
void AddSendSteps(PipelineSteps& steps);

}  // namespace vellum::exceptlog
