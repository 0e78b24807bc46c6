// The log's steps of the report pipeline: the duplicate test, the reset of
// the log when the application's version changes, and the save with its
// action and error notifications. The module's assembly of steps adds them
// with AddLogSteps.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/report/logfile/log_file.h"

namespace vellum::exceptlog {

// The report's log, open from the duplicate test to the save, so that the
// file is read once per report; reopened when a handler changes the path.
struct OpenLog {
  std::string path;
  std::unique_ptr<TLogFile> log;
};

void AddLogSteps(PipelineSteps& steps);

// The steps one by one (what AddLogSteps installs).
bool LogIsDuplicate(PipelineReport& report, PipelineContext& context);
void ResetLogOnNewVersion(PipelineReport& report, PipelineContext& context);
void SaveReportToLog(PipelineReport& report, PipelineContext& context);

// The values a report text holds for the duplicate keys, as they were before
// the general section stored them.
std::vector<std::string> DuplicateValues(const std::string& report_text);

// Closes the log the report keeps open between its steps.
void CloseOpenLog(PipelineReport& report);

// How often a handler of the error notification may ask for the save to be
// tried again within one report.
inline constexpr int kMaxLogSaveRetries = 10;

}  // namespace vellum::exceptlog
