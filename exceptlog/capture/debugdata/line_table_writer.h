// Writes debug data in the line-table format from code ranges that each have
// a unit, a line and a procedure: the build tool's side of line_table.h.
//
// The format only counts lines upwards within a unit record, while optimised
// code jumps back and forth between lines and files; so one source file
// becomes as many unit records (all with its name) as it has ascending runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"

namespace vellum::exceptlog {

inline constexpr std::uint32_t kNoProcedure = 0xFFFFFFFF;

struct LineTableProcedure {
  std::string ClassName;
  std::string Name;
  // The line the line within the procedure counts from; 0 when unknown.
  std::uint32_t FirstLine = 0;
};

struct LineTableRange {
  std::uint32_t CodeOffset = 0;  // from the module handle + 0x1000
  std::uint32_t Size = 0;
  std::uint32_t Line = 0;
  std::uint32_t Unit = 0;                  // index into UnitNames
  std::uint32_t Procedure = kNoProcedure;  // index into Procedures
};

struct LineTableSource {
  std::vector<std::string> UnitNames;
  std::vector<LineTableProcedure> Procedures;
  std::vector<LineTableRange> Ranges;  // any order; overlaps are cut
};

struct LineTableStatistics {
  std::size_t UnitRecords = 0;
  std::size_t Entries = 0;
  std::size_t NamedEntries = 0;
};

// `code` gives the bytes the reader will look at when it counts lines within
// a procedure, so that the stored first lines make those counts come out as
// Line - FirstLine. Raises EDebugDataError for an index out of range.
std::vector<std::uint8_t> WriteDebugData(const LineTableSource& source, std::uint16_t block_version,
                                         const BlockCipher& cipher, const CodeBytesReader& code,
                                         LineTableStatistics* statistics = nullptr);

}  // namespace vellum::exceptlog
