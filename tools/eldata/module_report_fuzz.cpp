// Any bytes as a module file for exlog: the PE reader, the resource lookup,
// the export table and the stored block behind them.
#include <cstddef>
#include <cstdint>

#include "tools/eldata/module_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const vellum::eldata::ModuleReport report(std::vector<std::uint8_t>(data, data + size), "");
    report.Resolve(report.Image().ImageBase() + 0x1000);
    report.Resolve(report.Image().ImageBase() + 0x1234);
    report.InfoText();
  } catch (const vellum::exceptlog::EPeFormatError&) {
  }
  return 0;
}
