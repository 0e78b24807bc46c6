// The report of the exception the pipeline is handling: the record, the
// call stacks and modules it collected and what the system says now, laid
// out by the report builder. The parts travel in the report (`texts`), where
// the dialog and the reproduce-steps request read them.
#pragma once

#include <string>
#include <vector>

#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/report/builder/report_assembly.h"

namespace vellum::exceptlog {

class MachineFacts;

// Gathers the facts (the shared kept ones, or those of `machine`) and builds.
ReportTexts BuildReportTexts(const PipelineReport& report);
ReportTexts BuildReportTexts(const PipelineReport& report, MachineFacts& machine);

// The general part's facts: what changes rarely from `machine` where it has
// it, the rest asked now.
GeneralFacts GatherGeneralFacts(const PipelineReport& report, const TRuzadaModuleOptions& options,
                                MachineFacts& machine);

// The pipeline's steps: build (keeping the parts in the report) and add the
// custom data handlers' text; both answer the full report.
std::string BuildReportStep(PipelineReport& report, PipelineContext& context);
std::string AddCustomDataStep(PipelineReport& report, PipelineContext& context);

// The user's reproduce steps added to the report's parts; answers the full
// report (the text as it was when no parts were built).
std::string AddReproduceStepsStep(PipelineReport& report, const std::string& steps);

// The bitness of the process whose addresses the capture recorded.
AddressWidth ReportAddressWidth(const PipelineReport& report);

// What the report's tables were made from, for those who show them otherwise.
CallStackInput ReportCallStackInput(const PipelineReport& report);
std::vector<ModuleRow> ReportModuleRows(const PipelineReport& report);

// The unqualified class name of a thread object, read without trusting the
// pointer: the object may have been freed since its thread was listed.
std::string ThreadObjectClassName(const void* object);

}  // namespace vellum::exceptlog
