// exlog's commands on a log file: the list of stored reports, one report as
// it is stored, and the log as an XML document.
#pragma once

#include <string>

namespace vellum::exceptlog {
class TLogFile;
}

namespace vellum::eldata {

// One line per report, oldest first: index, report format version, exception
// date, type and message (a multi-line message as text, on one line), separated by
// tabs, each line ending in "\n".
std::string LogListText(const exceptlog::TLogFile& log);

// The report at `index` (negative counts from the newest, -1 being the
// newest) exactly as stored; raises EListError when there is none.
const std::string& LogReportText(const exceptlog::TLogFile& log, int index);

}  // namespace vellum::eldata
