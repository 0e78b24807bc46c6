// The taskbar panel: the band form, with its host link, in a window of its
// own placed on a taskbar that hosts no desk bands. It sits on "Shell_TrayWnd"
// beside "TrayNotifyWnd", follows the taskbar (moves, sizes, edges, DPI),
// hides while there is no taskbar and comes back with "TaskbarCreated". It
// never takes the focus on its own, has no taskbar button and no Alt+Tab
// entry, and stays above the taskbar. One per session; it steps aside for
// the desk band itself.
#pragma once

#include <windows.h>

#include <string_view>

namespace vellum::band {

inline constexpr char kTaskbarClass[] = "Shell_TrayWnd";
inline constexpr char kNotifyAreaClass[] = "TrayNotifyWnd";
// Names the session's one panel; a second start sees it and ends.
inline constexpr char kPanelMutexName[] = "Local\\VellumTaskbarPanel";

// The shown taskbar. Wine's own keeps a hidden "Shell_TrayWnd" for its
// notification icons, and a restarting Explorer may leave a hidden one.
HWND FindShownTaskbar();

enum class PanelCommand { kRun, kInstall, kUninstall, kUnknown };

// rundll32's command-line tail: empty runs the panel; "/install" also adds
// the start at logon, "/uninstall" removes it and closes a running panel.
PanelCommand ParsePanelCommand(std::string_view command_line);

// What each start ended with (tests read it as rundll32 cannot pass it on).
enum class PanelOutcome { kClosed, kAlreadyRunning, kDeskBandLoaded, kUninstalled, kBadCommand };

// Runs the command; with kRun and kInstall, the panel's message loop until
// the panel is closed (its menu, /uninstall, the desk band appearing).
PanelOutcome RunTaskbarPanelCommand(std::string_view command_line);

}  // namespace vellum::band
