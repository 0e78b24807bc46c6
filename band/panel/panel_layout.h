// Where the taskbar panel goes: on the taskbar, beside its notification area,
// as tall (or, on a taskbar at the screen's left or right edge, as wide) as
// the taskbar and as long as the band asks at the taskbar's DPI. Pure
// geometry on screen rectangles, so every taskbar shape is tested without one.
#pragma once

#include <optional>

namespace vellum::band {

struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct TaskbarShape {
  ScreenRect taskbar;
  std::optional<ScreenRect> notify_area;  // none: the panel goes to the far end
  int dpi = 96;
};

// What the band asks for, in pixels at 96 DPI: its length along a horizontal
// taskbar and along a vertical one.
struct PanelRequest {
  int width = 0;
  int height = 0;
};

// A taskbar wider than tall lies along the top or bottom edge.
inline bool IsHorizontal(const ScreenRect& taskbar) {
  return taskbar.Width() >= taskbar.Height();
}

// The panel's rectangle, always inside the taskbar; empty when the taskbar
// has no room left beside its notification area.
ScreenRect PlacePanel(const TaskbarShape& shape, const PanelRequest& request);

// A length at 96 DPI scaled to `dpi`, rounded to the nearest pixel.
int ScaleForDpi(int length, int dpi);

}  // namespace vellum::band
