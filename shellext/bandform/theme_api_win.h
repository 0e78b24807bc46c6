// The visual-style calls the band form paints with, behind one table so that
// tests can stand in for a theme the machine does not have (Wine has no
// "TASKBAR" theme class).
#pragma once

#include <windows.h>
#include <uxtheme.h>

namespace vellum::shellext {

struct ThemeApi {
  BOOL(WINAPI* is_theme_active)() = nullptr;
  BOOL(WINAPI* is_app_themed)() = nullptr;
  HTHEME(WINAPI* open_theme_data)(HWND, LPCWSTR) = nullptr;
  HRESULT(WINAPI* draw_theme_background)(HTHEME, HDC, int, int, const RECT*, const RECT*) = nullptr;
  HRESULT(WINAPI* close_theme_data)(HTHEME) = nullptr;
};

// The table in use: the system's uxtheme functions unless replaced.
const ThemeApi& CurrentThemeApi();
// Replaces the table (tests); answers the previous one.
ThemeApi SetThemeApi(const ThemeApi& api);
// The system's own functions, looked up in uxtheme.dll; all empty when one
// is missing.
ThemeApi SystemThemeApi();
// uxtheme.dll, loaded on first use (never at load time: no LoadLibrary under
// the loader lock) and kept for the life of the process.
HMODULE ThemeLibrary();

}  // namespace vellum::shellext
