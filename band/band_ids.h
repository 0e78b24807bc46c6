// The band's class identifier: written to the registry, asked for by the
// shell, and used by the demo taskbar. One value, used everywhere.
#pragma once

#define VELLUM_DESK_BAND_CLSID_TEXT "{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6D}"

namespace vellum::band {

inline constexpr char kDeskBandClsid[] = VELLUM_DESK_BAND_CLSID_TEXT;

}  // namespace vellum::band
