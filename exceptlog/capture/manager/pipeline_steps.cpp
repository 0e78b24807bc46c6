#include "exceptlog/capture/manager/pipeline_steps.h"

#include <utility>

namespace vellum::exceptlog {

namespace {

PipelineSteps& Steps() {
  static PipelineSteps steps;
  return steps;
}

}  // namespace

PipelineSteps SetPipelineSteps(PipelineSteps steps) {
  return std::exchange(Steps(), std::move(steps));
}

const PipelineSteps& CurrentPipelineSteps() {
  return Steps();
}

}  // namespace vellum::exceptlog
