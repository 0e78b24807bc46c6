// Commands a test or demo posts to the stand-in's hidden window, beside the
// WM_HOTKEY protocol of the host link. They sit in the WM_APP range because a
// second program posts them: registered messages would need both sides to
// agree on a name first, which buys nothing here.
#pragma once

namespace vellum::band::testing {

constexpr unsigned kWindowMessageApp = 0x8000;  // WM_APP, without <windows.h>

// Reads "DockPanel" again and docks the Tessera into that window (moving it
// when it is docked elsewhere already).
constexpr unsigned kCommandDock = kWindowMessageApp + 1;
// Reads "BarHandle" and answers it with WM_HOTKEY 777, as if announced.
constexpr unsigned kCommandAnswerRegistry = kWindowMessageApp + 2;

// The host link's WM_HOTKEY identifiers.
constexpr unsigned kHotkeyLinkOrSize = 777;
constexpr unsigned kHotkeyAnnounce = 778;

// Names the band looks for.
constexpr const char kHiddenWindowName[] = "Hidden Vellum Window";
constexpr const char kHiddenWindowClass[] = "TfrmVellumHidden";
constexpr const char kTesseraClass[] = "TVellumTessera";

// Exit codes of vellum_standin.exe.
constexpr int kExitClosed = 0;  // WM_CLOSE or the stop event
constexpr int kExitTimedOut = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStartFailed = 3;

}  // namespace vellum::band::testing
