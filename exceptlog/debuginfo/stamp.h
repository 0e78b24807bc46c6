// The build tool's work: from a linked module's DWARF and its options,
// the stored block the module is then linked again with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/debuginfo/line_source_builder.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

struct StampSettings {
  // Sets the module's options, given the defaults; the build tool applies
  // its options file. Nothing: the defaults.
  std::function<void(TRuzadaModuleOptions&)> SetOptions;
  std::string Password;  // protects the names; empty by default
  double CompileDate = 0;
};

struct StampResult {
  std::vector<std::uint8_t> Block;  // the resource "ELDATA"
  LineTableStatistics Statistics;
  std::size_t DebugDataSize = 0;
  std::size_t Units = 0;
  std::size_t Procedures = 0;
  std::size_t Ranges = 0;
  // Numbered procedures the module has no code for; its table leaves them out.
  std::vector<std::string> MissingProcedures;
};

// The procedures the hooks find by number: the application object's two
// exception handlers.
inline constexpr const char* kNumberedProcedures[] = {
    "vellum::gui::TApplication::HandleException",
    "vellum::gui::TApplication::ShowException",
};

// Raises EDwarfError, EPeFormatError, or whatever SetOptions raises.
StampResult BuildStoredBlock(const PeFile& module, const StampSettings& settings);

// Module code as the line-table writer and reader see it: offsets from the
// image's preferred base + 0x1000.
CodeBytesReader CodeOf(const PeFile& module);

// The module's .text section at its preferred base; EPeFormatError when it
// has none, or one the stored offsets cannot describe.
CodeBounds CodeBoundsOf(const PeFile& module);

// Whether everything a stored block describes is the same in both links:
// the format, the preferred base and every section that lies before the resources, at
// the same address with the same bytes. Empty when so; else what differs.
std::string CompareCode(const PeFile& first, const PeFile& second);

}  // namespace vellum::exceptlog
