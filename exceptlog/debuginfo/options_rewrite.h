// Other options for a module that is already built: its stored block keeps
// its debug data, symbols and password check byte for byte and gets a new
// options stream. Users change recipients, servers and flags this way
// without a rebuild.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EOptionsRewriteError, Exception);

struct OptionsRewrite {
  std::vector<std::uint8_t> File;  // the whole new module file
  bool InPlace = false;            // the block fit where it was; else it moved to a new section
};

// The stored block's version, which the new options stream must be written
// for. Raises EOptionsRewriteError when the module carries no block in its
// resources.
std::uint16_t StoredBlockVersionOf(const std::vector<std::uint8_t>& module_file);

// Raises EOptionsRewriteError for a module without a stored block resource,
// a block older than the layout with a separate options part, or a module
// without room for another section header when the block outgrows its place;
// EPeFormatError for a file that is not a 32-bit PE module.
OptionsRewrite ReplaceStoredOptions(const std::vector<std::uint8_t>& module_file,
                                    std::span<const std::uint8_t> options_stream);

// The image checksum the loader checks for drivers and some tools check for
// every module, over the file with its checksum field taken as zero.
std::uint32_t PeChecksum(std::span<const std::uint8_t> file, std::size_t checksum_offset);

}  // namespace vellum::exceptlog
