// Builds a stored block in either form: the build tool stamps modules with
// it, and the tests build blocks of every version the reader knows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"

namespace vellum::exceptlog {

struct StoredBlockContents {
  std::uint16_t BlockVersion = kOwnBlockVersion;
  double CompileDate = 0;
  std::vector<std::uint8_t> SymbolTable;    // from version 500 (exceptlog::WriteNumberedSymbols)
  std::vector<std::uint8_t> OptionsStream;  // SaveToStream output
  std::vector<std::uint8_t> DebugData;      // written for the same version and password
  std::string Password;                     // from version 500: the check bytes' key
};

// The resource form, as "ELDATA" carries it.
std::vector<std::uint8_t> WriteStoredBlock(const StoredBlockContents& contents);

// The form appended to a module file (these bytes go at the file's end).
std::vector<std::uint8_t> WriteAppendedStoredBlock(const StoredBlockContents& contents);

}  // namespace vellum::exceptlog
