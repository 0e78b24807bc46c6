// One line-number program of .debug_line (versions 2 to 5): its file table
// and the rows its state machine emits, grouped into sequences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/debuginfo/dwarf_reader.h"

namespace vellum::exceptlog {

struct LineProgram {
  std::vector<std::string> Files;                    // by the program's own file index
  std::vector<std::vector<DwarfLineRow>> Sequences;  // File = the program's index
};

// `comp_dir` completes relative paths of DWARF 2 to 4 tables.
LineProgram ReadLineProgram(const DwarfSections& sections, std::uint64_t offset, unsigned address_size,
                            const std::string& comp_dir);

}  // namespace vellum::exceptlog
