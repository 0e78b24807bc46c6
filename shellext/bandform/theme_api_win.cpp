#include "shellext/bandform/theme_api_win.h"

#include "runtime/win/entry_point_win.h"

namespace vellum::shellext {

namespace {

ThemeApi& Current() {
  static ThemeApi api = SystemThemeApi();
  return api;
}

}  // namespace

HMODULE ThemeLibrary() {
  // Never freed: our own unload runs under the loader lock, where FreeLibrary
  // is not allowed, and a system DLL the host keeps loaded costs nothing.
  static const HMODULE library = [] {
    HMODULE loaded = GetModuleHandleA("uxtheme.dll");
    return loaded != nullptr ? loaded : LoadLibraryA("uxtheme.dll");
  }();
  return library;
}

ThemeApi SystemThemeApi() {
  // Looked up rather than imported, so that loading the band loads no theme
  // code; the table is all or nothing, and an empty one means "no themes".
  const HMODULE library = ThemeLibrary();
  ThemeApi api;
  api.is_theme_active = win::LookUpEntryPoint<decltype(IsThemeActive)>(library, "IsThemeActive");
  api.is_app_themed = win::LookUpEntryPoint<decltype(IsAppThemed)>(library, "IsAppThemed");
  api.open_theme_data = win::LookUpEntryPoint<decltype(OpenThemeData)>(library, "OpenThemeData");
  api.draw_theme_background = win::LookUpEntryPoint<decltype(DrawThemeBackground)>(library, "DrawThemeBackground");
  api.close_theme_data = win::LookUpEntryPoint<decltype(CloseThemeData)>(library, "CloseThemeData");
  if (api.is_theme_active == nullptr || api.is_app_themed == nullptr || api.open_theme_data == nullptr ||
      api.draw_theme_background == nullptr || api.close_theme_data == nullptr) {
    return ThemeApi{};
  }
  return api;
}

const ThemeApi& CurrentThemeApi() {
  return Current();
}

ThemeApi SetThemeApi(const ThemeApi& api) {
  const ThemeApi previous = Current();
  Current() = api;
  return previous;
}

}  // namespace vellum::shellext
