// The build tool's work: from a linked module's DWARF and the options file,
// the stored block the module is then linked again with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "tools/eldata/pe_image.h"

namespace vellum::eldata {

struct StampSettings {
  std::string OptionsText;      // contents of the options file (may be empty)
  std::string OptionsFileName;  // for messages
  std::string Password;         // protects the names; empty by default
  double CompileDate = 0;
};

struct StampResult {
  std::vector<std::uint8_t> Block;  // the resource "ELDATA"
  exceptlog::LineTableStatistics Statistics;
  std::size_t DebugDataSize = 0;
  std::size_t Units = 0;
  std::size_t Procedures = 0;
  std::size_t Ranges = 0;
};

// The procedures the hooks find by number: the application object's two
// exception handlers.
inline constexpr const char* kNumberedProcedures[] = {
    "vellum::gui::TApplication::HandleException",
    "vellum::gui::TApplication::ShowException",
};

// Raises EDwarfError, EPeFormatError or EConvertError.
StampResult BuildStoredBlock(const PeImage& module, const StampSettings& settings);

// Module code as the line-table writer and reader see it: offsets from the
// image's preferred base + 0x1000.
exceptlog::CodeBytesReader CodeOf(const PeImage& module);

// Whether everything a stored block describes is the same in both links:
// the preferred base and every section that lies before the resources, at
// the same address with the same bytes. Empty when so; else what differs.
std::string CompareCode(const PeImage& first, const PeImage& second);

}  // namespace vellum::eldata
