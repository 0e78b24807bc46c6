// The report pipeline's steps of a module that carries the exception
// subsystem: what the report, log and delivery layers provide, put together
// once, for the module's start to hand to SetPipelineSteps.
#pragma once

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::exceptlog {

PipelineSteps ModulePipelineSteps();

}  // namespace vellum::exceptlog
