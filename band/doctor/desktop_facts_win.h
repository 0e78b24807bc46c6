// What the running system says: its bitness and build, whether its taskbar
// can host desk bands at all, and who is up (the band, the taskbar panel,
// Vellum).
#pragma once

#include <windows.h>

#include <cstdint>

#include "band/doctor/findings.h"

namespace vellum::band {

// Explorer's bitness: a 64-bit process, or a 32-bit one under WOW64.
Bits WindowsBits();

// The system's own build number, which the compatibility shims of the
// version functions do not bend; 0 when it cannot be learned.
std::uint32_t WindowsBuild();

// The first build whose taskbar hosts no desk bands.
inline constexpr std::uint32_t kFirstBuildWithoutBands = 22000;

// False on a build without band support, or with a shown taskbar window
// that has no rebar for bands to live in.
bool TaskbarHostsBands();

// Vellum's hidden window, by its title and its class's name.
bool VellumRunning();

}  // namespace vellum::band
