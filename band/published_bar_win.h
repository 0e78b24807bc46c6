// Who shows the band's panel now. The band form publishes its window handles
// in the current user's registry wherever it runs, so the published bar
// handle tells a live desk band from a live taskbar panel from nothing at
// all: a handle counts only while it names a live band form window.
#pragma once

#include <windows.h>

namespace vellum::band {

// The taskbar panel's top-level window class; the band form inside it is a
// child, so the form's root window tells the panel from a desk band.
inline constexpr char kTaskbarPanelClass[] = "VellumTaskbarPanel";

enum class BarHost { kNone, kDeskBand, kTaskbarPanel };

struct PublishedBar {
  HWND bar = nullptr;  // the live form the registry names; null with kNone
  BarHost host = BarHost::kNone;
};

// Reads "BarHandle" and checks the window it names. Never throws: a missing
// key or value, or a stale handle, is kNone.
PublishedBar FindPublishedBar();

// The host of a given band form window (kNone when it is no live form).
BarHost HostOfBar(HWND bar);

}  // namespace vellum::band
