// What exlog tells about a module file: its stored block (from the resource
// "ELDATA" or appended to the file), the options in it, the units and
// procedures of its line tables, and the place of a code address.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/debug_data_index.h"
#include "exceptlog/common/binary/pe_file.h"

namespace vellum::eldata {

class ModuleReport {
 public:
  // Raises EPeFormatError for a file that is no PE32 i386 or PE32+ x86-64 file.
  ModuleReport(std::vector<std::uint8_t> file, const std::string& password);

  const exceptlog::PeFile& Image() const { return image_; }
  // Nothing when the file carries no stored block.
  const std::optional<exceptlog::StoredBlock>& Block() const { return block_; }

  // "+1234": offset from the preferred base; "0x..." or plain hex: an
  // absolute address at the preferred base. Nothing for other text, or for
  // an address wider than the module's (32 bits for PE32, 64 for PE32+).
  std::optional<std::uint64_t> ParseAddress(const std::string& text) const;

  // One tab-separated line: address, unit, class, procedure, line, line
  // within the procedure; unknown fields empty.
  std::string Resolve(std::uint64_t address) const;

  // An address as the module's width prints it: 8 hex digits for PE32,
  // 16 for PE32+.
  std::string AddressText(std::uint64_t address) const;

  std::string InfoText() const;
  std::string InfoJson() const;

 private:
  std::string ExportedPlace(std::uint32_t rva) const;

  exceptlog::PeFile image_;
  std::optional<exceptlog::StoredBlock> block_;
  std::unique_ptr<exceptlog::DebugDataIndex> index_;
  std::vector<exceptlog::PeExport> exports_;  // by address
};

// The estimated length of the procedure at `rva` in `code` (the code
// section's bytes from `code_rva` on), as the module list estimates exports.
std::uint32_t EstimatedProcedureSize(std::span<const std::uint8_t> code, std::uint32_t code_rva, std::uint32_t rva);

}  // namespace vellum::eldata
