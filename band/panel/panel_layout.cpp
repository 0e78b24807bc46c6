#include "band/panel/panel_layout.h"

#include <algorithm>
#include <utility>

namespace vellum::band {

int ScaleForDpi(int length, int dpi) {
  if (dpi <= 0) dpi = 96;
  return static_cast<int>((static_cast<long long>(length) * dpi + 48) / 96);
}

namespace {

// Places a run of `length` along one axis of the taskbar [start, end), beside
// the notification area [notify_start, notify_end) on whichever side of it
// the taskbar has room: before it normally, after it where the area sits at
// the start (right-to-left layouts put it at the left end).
void PlaceAlong(int start, int end, std::optional<std::pair<int, int>> notify, int length, int& out_start,
                int& out_end) {
  int free_start = start;
  int free_end = end;
  bool after_notify = false;
  if (notify) {
    const int notify_start = std::clamp(notify->first, start, end);
    const int notify_end = std::clamp(notify->second, start, end);
    // The side with more room is the one the area does not sit at.
    after_notify = notify_start - start < end - notify_end;
    if (after_notify) {
      free_start = notify_end;
    } else {
      free_end = notify_start;
    }
  }
  length = std::clamp(length, 0, std::max(0, free_end - free_start));
  if (after_notify) {
    out_start = free_start;
    out_end = free_start + length;
  } else {
    out_end = free_end;
    out_start = free_end - length;
  }
}

}  // namespace

ScreenRect PlacePanel(const TaskbarShape& shape, const PanelRequest& request) {
  const ScreenRect& bar = shape.taskbar;
  if (bar.Empty()) return {};
  ScreenRect panel = bar;
  if (IsHorizontal(bar)) {
    std::optional<std::pair<int, int>> notify;
    if (shape.notify_area && !shape.notify_area->Empty())
      notify = {{shape.notify_area->left, shape.notify_area->right}};
    PlaceAlong(bar.left, bar.right, notify, ScaleForDpi(request.width, shape.dpi), panel.left, panel.right);
  } else {
    std::optional<std::pair<int, int>> notify;
    if (shape.notify_area && !shape.notify_area->Empty())
      notify = {{shape.notify_area->top, shape.notify_area->bottom}};
    PlaceAlong(bar.top, bar.bottom, notify, ScaleForDpi(request.height, shape.dpi), panel.top, panel.bottom);
  }
  if (panel.Empty()) return {};
  return panel;
}

}  // namespace vellum::band
