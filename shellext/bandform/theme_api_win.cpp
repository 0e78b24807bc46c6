#include "shellext/bandform/theme_api_win.h"

namespace vellum::shellext {

namespace {

ThemeApi& Current() {
  static ThemeApi api = SystemThemeApi();
  return api;
}

}  // namespace

ThemeApi SystemThemeApi() {
  ThemeApi api;
  api.is_theme_active = &IsThemeActive;
  api.is_app_themed = &IsAppThemed;
  api.open_theme_data = &OpenThemeData;
  api.draw_theme_background = &DrawThemeBackground;
  api.close_theme_data = &CloseThemeData;
  return api;
}

const ThemeApi& CurrentThemeApi() { return Current(); }

ThemeApi SetThemeApi(const ThemeApi& api) {
  const ThemeApi previous = Current();
  Current() = api;
  return previous;
}

}  // namespace vellum::shellext
