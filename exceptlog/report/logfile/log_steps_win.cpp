#include "exceptlog/report/logfile/log_steps_win.h"

#include <memory>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/logfile/log_entry.h"
#include "exceptlog/report/logfile/log_file.h"

namespace vellum::exceptlog {

namespace {

const std::vector<std::string> kDuplicateKeys = {"2.2", "2.3", "2.4", "2.5"};

// The report's log, opened again when the configured path changed since.
TLogFile& OpenLogFor(PipelineReport& report, const std::string& path) {
  if (!report.log) report.log = std::make_shared<OpenLog>();
  OpenLog& open = *report.log;
  if (!open.log || open.path != path) {
    open.log.reset();
    open.log = std::make_unique<TLogFile>(path, false);
    open.path = path;
  }
  return *open.log;
}

std::string LogPathOf(const PipelineReport& report) {
  return report.record.Options != nullptr ? report.record.Options->LogFileName() : std::string();
}

// Whether the log's newest report names another version of the
// application than this report (an empty version decides nothing).
bool WrittenByAnotherVersion(TLogFile& log, const PipelineReport& report) {
  const std::string running = EntryField(report.record.ReportText, "1.3");
  const std::string stored = log.ReportCount() > 0 ? log.GetField("1.3", log.ReportCount() - 1) : std::string();
  return !stored.empty() && !running.empty() && stored != running;
}

}  // namespace

std::vector<std::string> DuplicateValues(const std::string& report_text) {
  std::vector<std::string> values;
  for (const std::string& key : kDuplicateKeys) values.push_back(FieldText(EntryField(report_text, key)));
  return values;
}

void CloseOpenLog(PipelineReport& report) {
  report.log.reset();
}

bool LogIsDuplicate(PipelineReport& report, PipelineContext&) {
  const std::string path = LogPathOf(report);
  if (path.empty()) return false;
  try {
    TLogFile& log = OpenLogFor(report, path);
    // A log about to be reset for a new version holds nothing this report
    // repeats: counting it a duplicate would lose the report with the log.
    const TRuzadaModuleOptions* options = report.record.Options;
    if (options != nullptr && options->LogFlags().Contains(lfResetOnNewVersion) &&
        WrittenByAnotherVersion(log, report)) {
      return false;
    }
    return log.IsDuplicate(kDuplicateKeys, DuplicateValues(report.record.ReportText));
  } catch (...) {
    // A log that cannot be read holds no duplicate; the save reports why.
    CloseOpenLog(report);
    return false;
  }
}

void ResetLogOnNewVersion(PipelineReport& report, PipelineContext& context) {
  const std::string path = LogPathOf(report);
  if (path.empty()) return;
  try {
    const bool reset = WrittenByAnotherVersion(OpenLogFor(report, path), report);
    CloseOpenLog(report);
    if (reset) RemoveFile(path);
  } catch (...) {
    CloseOpenLog(report);
    context.Warn(eeLogError, "Log", std::current_exception());
  }
}

void SaveReportToLog(PipelineReport& report, PipelineContext& context) {
  const std::string path = LogPathOf(report);
  const TRuzadaModuleOptions* options = report.record.Options;
  for (int attempt = 0;; ++attempt) {
    bool save = context.FireAction(report.record, atSavingLogFile);
    bool saved = false;
    try {
      if (path.empty()) throw EFCreateError("Cannot create file \"\". No log file is configured.");
      TLogFile& log = OpenLogFor(report, path);
      if (!report.duplicate) log.AddReport(report.record.ReportText, options->LogMaxReports());
      if (options->SendFlags().Contains(sfWholeLog)) report.text_to_send = log.LogText();
      if (save) {
        log.SaveLogFile();
        saved = true;
      }
    } catch (...) {
      context.Warn(eeLogError, "Log", std::current_exception());
    }
    // A retry starts from the file again, so the report is added once, and
    // asks the saving notification again, so a handler can lift its veto.
    CloseOpenLog(report);
    if (saved) break;
    if (!context.FireErrorAskingRetry(report.record, atSavedLogFile) || attempt >= kMaxLogSaveRetries) break;
  }
  context.FireAction(report.record, atSavedLogFile);
}

void AddLogSteps(PipelineSteps& steps) {
  steps.is_duplicate = LogIsDuplicate;
  steps.reset_log_on_new_version = ResetLogOnNewVersion;
  steps.save_log = SaveReportToLog;
}

}  // namespace vellum::exceptlog
