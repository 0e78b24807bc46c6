// The parts of a loaded PE image (PE32 or PE32+) that the module list needs, read
// through a MemoryReader with the common PE reader: a module's headers are
// data like any other, and a damaged or hostile one must not lead a read
// astray.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/exported_functions.h"
#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

struct PeSection {
  std::uint32_t start = 0;  // relative to the image base
  std::uint32_t end = 0;    // first byte after it
};

struct PeLayout {
  bool is_dll = false;
  std::uint32_t size_of_image = 0;
  std::uint64_t code_start = 0;  // absolute addresses of the code section
  std::uint64_t code_end = 0;
  std::uint32_t export_rva = 0;
  std::uint32_t export_size = 0;
  // The exception directory: a 64-bit module's unwind data.
  std::uint32_t exception_rva = 0;
  std::uint32_t exception_size = 0;
  std::vector<PeSection> sections;
};

// "MZ", the new header's offset at 0x3C, "PE\0\0", the optional header of
// the process's width (PE32 in a 32-bit process, PE32+ in a 64-bit one: the
// other cannot be loaded there) and the section table, of which the first 96
// sections are kept. nullopt when any of it is missing.
std::optional<PeLayout> ReadPeLayout(const MemoryReader& memory, std::uint64_t base,
                                     ProcessBits bits = ProcessBits::k32);

// The export's address for a name. Answers nullopt when the name cannot be
// resolved; `table_address` is what the module's own address table says.
using ExportAddressLookup = std::optional<std::uint64_t> (*)(std::uint64_t base, const std::string& name,
                                                             std::uint64_t table_address);

// Longest export name read; longer ones are cut.
inline constexpr std::uint32_t kMaxExportNameLength = 256;

struct ExportReadOptions {
  ExportAddressLookup lookup = nullptr;  // nullptr: the address table decides
  // Outside NT, exports of system DLLs are thunks "PUSH address; JMP ...":
  // the pushed address is the procedure.
  bool system_thunks = false;
  ProcessBits bits = ProcessBits::k32;
};

// The named exports of the image at `base`: the first min(functions, names)
// names, each array bounded by the section that holds the export directory,
// sizes estimated within the code section, sorted by address. An image
// without exports, or with unreadable ones, gives what could be read.
TRuzadaFunctionsList ReadExportedFunctions(const MemoryReader& memory, std::uint64_t base,
                                           const ExportReadOptions& options = {});

}  // namespace vellum::exceptlog
