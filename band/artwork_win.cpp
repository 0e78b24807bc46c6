#include "band/artwork_win.h"

#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band {

namespace {

using win::MemoryDC;
using Selected = win::SelectedObject;
using ScreenDC = win::WindowDC;

const COLORREF kTeal = RGB(0, 128, 128);
const COLORREF kPaper = RGB(250, 246, 232);
const COLORREF kInk = RGB(40, 40, 60);
const COLORREF kKey = RGB(255, 0, 255);  // transparent colour of glyphs

// Draws the mark: a sheet of vellum (a rounded page) with a bar across it.
void DrawMark(HDC dc, int size, COLORREF background) {
  RECT all{0, 0, size, size};
  const win::UniqueBrush back(CreateSolidBrush(background));
  FillRect(dc, &all, back.get());
  const win::UniqueBrush paper(CreateSolidBrush(kPaper));
  const win::UniquePen pen(CreatePen(PS_SOLID, size >= 32 ? 2 : 1, kInk));
  Selected brush_sel(dc, paper.get());
  Selected pen_sel(dc, pen.get());
  const int m = size / 8;
  RoundRect(dc, m, m, size - m, size - m, size / 5, size / 5);
  const win::UniqueBrush bar(CreateSolidBrush(kTeal));
  RECT band{m + 1, size / 2 - size / 10, size - m - 1, size / 2 + size / 10};
  FillRect(dc, &band, bar.get());
}

win::UniqueBitmap DrawBitmap(int size, COLORREF background) {
  ScreenDC screen;
  win::UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), size, size));
  MemoryDC dc(screen.get());
  Selected selected(dc.get(), bitmap.get());
  DrawMark(dc.get(), size, background);
  return bitmap;
}

}  // namespace

win::UniqueBitmap CreateConnectGlyph() {
  ScreenDC screen;
  win::UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), 16, 16));
  MemoryDC dc(screen.get());
  Selected selected(dc.get(), bitmap.get());
  RECT all{0, 0, 16, 16};
  const win::UniqueBrush key(CreateSolidBrush(kKey));
  FillRect(dc.get(), &all, key.get());
  // A plug: two prongs and a body, pointing right (connect).
  const win::UniqueBrush body(CreateSolidBrush(kTeal));
  RECT plug{2, 5, 10, 11};
  FillRect(dc.get(), &plug, body.get());
  const win::UniqueBrush ink(CreateSolidBrush(kInk));
  RECT prong_top{10, 6, 14, 7};
  RECT prong_bottom{10, 9, 14, 10};
  FillRect(dc.get(), &prong_top, ink.get());
  FillRect(dc.get(), &prong_bottom, ink.get());
  return bitmap;
}

win::UniqueBitmap CreateLogoBitmap() {
  return DrawBitmap(64, kKey);
}

win::UniqueIcon CreateProgramIcon(int size) {
  const win::UniqueBitmap color = DrawBitmap(size, RGB(0, 0, 0));
  // The mask: transparent (1) outside the page, opaque (0) on it.
  ScreenDC screen;
  const win::UniqueBitmap mask(CreateBitmap(size, size, 1, 1, nullptr));
  {
    MemoryDC dc(screen.get());
    Selected selected(dc.get(), mask.get());
    RECT all{0, 0, size, size};
    FillRect(dc.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Selected brush(dc.get(), GetStockObject(BLACK_BRUSH));
    Selected pen(dc.get(), GetStockObject(BLACK_PEN));
    const int m = size / 8;
    RoundRect(dc.get(), m, m, size - m, size - m, size / 5, size / 5);
  }
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = color.get();
  info.hbmMask = mask.get();
  return win::UniqueIcon(CreateIconIndirect(&info));  // copies both bitmaps
}

}  // namespace vellum::band
