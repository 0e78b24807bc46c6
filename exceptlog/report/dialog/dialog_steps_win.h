// The pipeline's display steps for a program with windows: the exception
// dialog over the report just built, and the reproduce-steps request whose
// answer joins the report.
#pragma once

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::exceptlog {

void ShowDialogStep(PipelineReport& report, PipelineContext& context);
void AskReproduceStepsStep(PipelineReport& report, PipelineContext& context);
// Sets show_dialog and ask_reproduce_steps.
void AddDialogSteps(PipelineSteps& steps);

}  // namespace vellum::exceptlog
