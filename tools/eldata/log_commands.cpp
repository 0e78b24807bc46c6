#include "tools/eldata/log_commands.h"

#include "exceptlog/report/logfile/log_entry.h"
#include "exceptlog/report/logfile/log_file.h"

namespace vellum::eldata {

namespace {

// A field as one cell: no tabs or line breaks inside.
std::string OneLine(const std::string& value) {
  std::string line;
  for (const char c : value) {
    if (c == '\r') continue;
    line += c == '\n' || c == '\t' ? ' ' : c;
  }
  return line;
}

}  // namespace

std::string LogListText(const exceptlog::TLogFile& log) {
  std::string text;
  for (int i = 0; i < log.ReportCount(); ++i) {
    text += std::to_string(i) + "\t" + OneLine(log.ReportVersion(i)) + "\t" + OneLine(log.GetField("2.1", i)) + "\t" +
            OneLine(log.GetField("2.4", i)) + "\t" + OneLine(exceptlog::FieldText(log.GetField("2.5", i))) + "\n";
  }
  return text;
}

const std::string& LogReportText(const exceptlog::TLogFile& log, int index) {
  return log.Entry(index < 0 ? log.ReportCount() + index : index);
}

}  // namespace vellum::eldata
