// Any bytes as a log file: loading, every reader and the XML export of every
// entry it yields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exceptlog/report/logfile/log_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellum::exceptlog;
  vellum::MemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  TLogFile log;
  log.LoadFromStream(stream);
  for (int i = 0; i < log.ReportCount(); ++i) {
    log.GeneralPart(i);
    log.CallStackTable(i);
    log.ModulesTable(i);
    log.CpuPart(i);
    log.ReproducePart(i);
    log.GetField("1.3", i);
  }
  log.IsDuplicate({"2.2", "2.3", "2.4", "2.5"}, {"0040100A", "a.exe", "EAccessViolation", "A\r\nB: c\r\n\r\n."});
  const std::string document = log.DocumentXml();
  // What is saved loads back unchanged.
  const std::string text = log.LogText();
  vellum::MemoryStream saved(text);
  TLogFile again;
  again.LoadFromStream(saved);
  if (again.LogText() != text) __builtin_trap();
  return 0;
}
