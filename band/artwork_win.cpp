#include "band/artwork_win.h"

#include "runtime/win/gdi.h"
#include "runtime/win/unique_handle.h"

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
  win::UniqueGdiObject back(CreateSolidBrush(background));
  FillRect(dc, &all, static_cast<HBRUSH>(back.get()));
  win::UniqueGdiObject paper(CreateSolidBrush(kPaper));
  win::UniqueGdiObject pen(CreatePen(PS_SOLID, size >= 32 ? 2 : 1, kInk));
  Selected brush_sel(dc, paper.get());
  Selected pen_sel(dc, pen.get());
  const int m = size / 8;
  RoundRect(dc, m, m, size - m, size - m, size / 5, size / 5);
  win::UniqueGdiObject bar(CreateSolidBrush(kTeal));
  RECT band{m + 1, size / 2 - size / 10, size - m - 1, size / 2 + size / 10};
  FillRect(dc, &band, static_cast<HBRUSH>(bar.get()));
}

HBITMAP DrawBitmap(int size, COLORREF background) {
  ScreenDC screen;
  HBITMAP bitmap = CreateCompatibleBitmap(screen.get(), size, size);
  MemoryDC dc(screen.get());
  Selected selected(dc.get(), bitmap);
  DrawMark(dc.get(), size, background);
  return bitmap;
}

}  // namespace

HBITMAP CreateConnectGlyph() {
  ScreenDC screen;
  HBITMAP bitmap = CreateCompatibleBitmap(screen.get(), 16, 16);
  MemoryDC dc(screen.get());
  Selected selected(dc.get(), bitmap);
  RECT all{0, 0, 16, 16};
  win::UniqueGdiObject key(CreateSolidBrush(kKey));
  FillRect(dc.get(), &all, static_cast<HBRUSH>(key.get()));
  // A plug: two prongs and a body, pointing right (connect).
  win::UniqueGdiObject body(CreateSolidBrush(kTeal));
  RECT plug{2, 5, 10, 11};
  FillRect(dc.get(), &plug, static_cast<HBRUSH>(body.get()));
  win::UniqueGdiObject ink(CreateSolidBrush(kInk));
  RECT prong_top{10, 6, 14, 7};
  RECT prong_bottom{10, 9, 14, 10};
  FillRect(dc.get(), &prong_top, static_cast<HBRUSH>(ink.get()));
  FillRect(dc.get(), &prong_bottom, static_cast<HBRUSH>(ink.get()));
  return bitmap;
}

HBITMAP CreateLogoBitmap() { return DrawBitmap(64, kKey); }

HICON CreateProgramIcon(int size) {
  win::UniqueGdiObject color(DrawBitmap(size, RGB(0, 0, 0)));
  // The mask: transparent (1) outside the page, opaque (0) on it.
  ScreenDC screen;
  win::UniqueGdiObject mask(CreateBitmap(size, size, 1, 1, nullptr));
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
  info.hbmColor = static_cast<HBITMAP>(color.get());
  info.hbmMask = static_cast<HBITMAP>(mask.get());
  return CreateIconIndirect(&info);  // copies both bitmaps
}

}  // namespace vellum::band
