// The log's steps of the report pipeline: the duplicate test, the reset of
// the log when the application's version changes, and the save with its
// action and error notifications. The module's assembly of steps adds them
// with AddLogSteps.
#pragma once

#include <string>
#include <vector>

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::exceptlog {

void AddLogSteps(PipelineSteps& steps);

// The steps one by one (what AddLogSteps installs).
bool LogIsDuplicate(const PipelineReport& report);
void ResetLogOnNewVersion(const PipelineReport& report);
void SaveReportToLog(PipelineReport& report);

// The values a report text holds for the duplicate keys, as they were before
// the general section stored them.
std::vector<std::string> DuplicateValues(const std::string& report_text);

// Closes the log the pipeline keeps open between its steps.
void CloseOpenLog();

// How often a handler of the error notification may ask for the save to be
// tried again within one report.
inline constexpr int kMaxLogSaveRetries = 10;

}  // namespace vellum::exceptlog
