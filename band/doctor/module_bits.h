// A module file's bitness, from the machine its PE header names: what decides
// whether an Explorer of a given bitness can load it at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "band/doctor/findings.h"

namespace vellum::band {

// Enough of a file's start for the headers of any module the linker writes.
inline constexpr std::size_t kModuleHeaderBytes = 64 * 1024;

// The bitness of an i386 or x86-64 module whose headers lie within
// `file_start`; nothing for any other file, or headers that do not hold.
std::optional<Bits> ModuleBits(std::span<const std::uint8_t> file_start);

}  // namespace vellum::band
