#include "exceptlog/report/dialog/dialog_bitmaps_win.h"

#include "runtime/win/gdi_win.h"

namespace vellum::exceptlog {

namespace {

using OwnedBrush = win::UniqueHandle<win::GdiTraits<HBRUSH>>;
using OwnedPen = win::UniqueHandle<win::GdiTraits<HPEN>>;

void Box(HDC dc, int left, int top, int right, int bottom, COLORREF fill, COLORREF line) {
  const OwnedBrush brush(CreateSolidBrush(fill));
  const OwnedPen pen(CreatePen(PS_SOLID, 1, line));
  const win::SelectedObject selected_brush(dc, brush.get());
  const win::SelectedObject selected_pen(dc, pen.get());
  Rectangle(dc, left, top, right, bottom);
}

void Line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour, int width) {
  const OwnedPen pen(CreatePen(PS_SOLID, width, colour));
  const win::SelectedObject selected(dc, pen.get());
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

void DrawError(HDC dc) {
  const OwnedBrush brush(CreateSolidBrush(RGB(220, 30, 30)));
  const OwnedPen pen(CreatePen(PS_SOLID, 1, RGB(140, 0, 0)));
  {
    const win::SelectedObject selected_brush(dc, brush.get());
    const win::SelectedObject selected_pen(dc, pen.get());
    Ellipse(dc, 1, 1, 31, 31);
  }
  Line(dc, 10, 10, 22, 22, RGB(255, 255, 255), 4);
  Line(dc, 22, 10, 10, 22, RGB(255, 255, 255), 4);
}

// A page with a folded look, in the module kind's colour.
void DrawModule(HDC dc, COLORREF colour) {
  Box(dc, 2, 1, 14, 15, RGB(255, 255, 255), RGB(96, 96, 96));
  Box(dc, 4, 4, 12, 12, colour, colour);
}

void DrawProgram(HDC dc) {
  Box(dc, 1, 2, 15, 14, RGB(255, 255, 255), RGB(64, 64, 64));
  Box(dc, 1, 2, 15, 5, RGB(49, 106, 197), RGB(49, 106, 197));
}

void DrawSource(HDC dc) {
  Box(dc, 2, 1, 14, 15, RGB(255, 255, 230), RGB(128, 112, 64));
  for (int y = 4; y <= 12; y += 2) Line(dc, 4, y, y % 4 == 0 ? 12 : 10, y, RGB(0, 0, 160), 1);
}

void DrawSign(HDC dc, bool plus) {
  Box(dc, 1, 1, 12, 12, RGB(255, 255, 255), RGB(128, 128, 128));
  Line(dc, 3, 6, 10, 6, RGB(0, 0, 0), 1);
  if (plus) Line(dc, 6, 3, 6, 10, RGB(0, 0, 0), 1);
}

}  // namespace

OwnedBitmap CreateDialogBitmap(std::string_view name) {
  int size = 16;
  if (name == "EL_Error") size = 32;
  if (name == "EL_PLUS" || name == "EL_MINUS") size = 13;
  const win::WindowDC screen;
  OwnedBitmap bitmap(CreateCompatibleBitmap(screen.get(), size, size));
  if (!bitmap) return bitmap;
  const win::MemoryDC dc(screen.get());
  const win::SelectedObject selected(dc.get(), bitmap.get());
  const RECT all{0, 0, size, size};
  const OwnedBrush transparent(CreateSolidBrush(kBitmapTransparent));
  FillRect(dc.get(), &all, transparent.get());
  if (name == "EL_Error") {
    DrawError(dc.get());
  } else if (name == "EL_DLL") {
    DrawModule(dc.get(), RGB(128, 128, 128));
  } else if (name == "EL_BPL") {
    DrawModule(dc.get(), RGB(0, 150, 0));
  } else if (name == "EL_VCL") {
    DrawProgram(dc.get());
  } else if (name == "EL_PAS") {
    DrawSource(dc.get());
  } else if (name == "EL_PLUS" || name == "EL_MINUS") {
    DrawSign(dc.get(), name == "EL_PLUS");
  } else {
    return OwnedBitmap();
  }
  // The corner stays transparent whatever a picture covers.
  SetPixel(dc.get(), 0, 0, kBitmapTransparent);
  return bitmap;
}

}  // namespace vellum::exceptlog
