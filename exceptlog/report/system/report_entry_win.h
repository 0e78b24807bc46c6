// The report of the exception the pipeline is handling: the record, the
// call stacks and modules it collected and what the system says now, laid
// out by the report builder. The results are process-wide and stay until
// the next report (the log, the dialog and the delivery read them).
#pragma once

#include <string>
#include <vector>

#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/report/builder/report_assembly.h"

namespace vellum::exceptlog {

// Gathers the facts and builds; does not touch the last report.
ReportTexts BuildReportTexts(const PipelineReport& report);

// The pipeline's steps: build (replacing the last report) and add the
// custom data handlers' text; both answer the full report.
std::string BuildReportStep(const PipelineReport& report);
std::string AddCustomDataStep(const PipelineReport& report);

const ReportTexts& LastReport();
// The user's reproduce steps added to the last report; answers the full report.
std::string AddReproduceStepsStep(const PipelineReport& report, const std::string& steps);

// What the report's tables were made from, for those who show them otherwise.
CallStackInput ReportCallStackInput(const PipelineReport& report);
std::vector<ModuleRow> ReportModuleRows(const PipelineReport& report);

// The unqualified class name of a thread object, read without trusting the
// pointer: the object may have been freed since its thread was listed.
std::string ThreadObjectClassName(const void* object);

}  // namespace vellum::exceptlog
