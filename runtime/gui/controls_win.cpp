#include "runtime/gui/controls_win.h"

#include <windowsx.h>

#include <utility>

#include "runtime/component/class_builder.h"
#include "runtime/gui/form_win.h"
#include "runtime/win/gdi_win.h"

namespace vellum::gui {

namespace {

using win::MemoryDC;
using win::SelectedObject;

const std::vector<std::string> kBevelNames = {"bvNone", "bvLowered", "bvRaised"};

UINT EdgeFor(TBevelCut cut) {
  return cut == bvRaised ? BDR_RAISEDINNER : BDR_SUNKENOUTER;
}

}  // namespace

// ---- TPanel -----------------------------------------------------------------

const ClassInfo& TPanel::StaticClass() {
  static const ClassInfo info = ClassBuilder<TPanel>("TPanel", &TControl::StaticClass())
                                    .Enumeration("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter, kBevelNames)
                                    .Enumeration("BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner, kBevelNames)
                                    .Build();
  return info;
}

TPanel::TPanel() {
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TBevelCut value) {
  bevel_outer_ = value;
  Invalidate();
}

void TPanel::SetBevelInner(TBevelCut value) {
  bevel_inner_ = value;
  Invalidate();
}

void TPanel::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.window_class = "TVellumPanel";
}

void TPanel::Paint(HDC dc, const RECT& client) {
  RECT rect = client;
  if (bevel_outer_ != bvNone) {
    DrawEdge(dc, &rect, EdgeFor(bevel_outer_), BF_RECT | BF_ADJUST);
  }
  if (bevel_inner_ != bvNone) {
    DrawEdge(dc, &rect, EdgeFor(bevel_inner_), BF_RECT | BF_ADJUST);
  }
  if (!Caption().empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColorToRGB(FontColor()));
    SelectedObject font(dc, Font());
    DrawTextA(dc, Caption().c_str(), -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
}

// ---- TLabel -----------------------------------------------------------------

const ClassInfo& TLabel::StaticClass() {
  static const ClassInfo info = ClassBuilder<TLabel>("TLabel", &TControl::StaticClass())
                                    .Property("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap)
                                    .Build();
  return info;
}

TLabel::TLabel() {
  SetBounds(0, 0, 65, 13);
  SetParentBackground(true);
}

void TLabel::SetWordWrap(bool value) {
  word_wrap_ = value;
  Invalidate();
}

void TLabel::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.window_class = "TVellumLabel";
  params.ex_style |= WS_EX_TRANSPARENT;
}

void TLabel::AdjustSize() {
  if (!HandleAllocated() || word_wrap_) return;
  RECT rect{0, 0, 0, 0};
  {
    win::WindowDC dc(Handle());
    SelectedObject font(dc.get(), Font());
    DrawTextA(dc.get(), Caption().c_str(), -1, &rect, DT_CALCRECT | DT_SINGLELINE);
  }
  SetBounds(Left(), Top(), rect.right, rect.bottom);
}

bool TLabel::EraseBackground(HDC dc) {
  PaintParentBackground(dc);
  return true;
}

void TLabel::Paint(HDC dc, const RECT& client) {
  RECT rect = client;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(Enabled() ? FontColor() : (kSystemColorFlag | COLOR_GRAYTEXT)));
  SelectedObject font(dc, Font());
  DrawTextA(dc, Caption().c_str(), -1, &rect, word_wrap_ ? DT_WORDBREAK : DT_SINGLELINE);
}

void TLabel::WndProc(Message& message) {
  TControl::WndProc(message);
  if (message.msg == WM_SETTEXT || message.msg == WM_SETFONT) AdjustSize();
  if (message.msg == WM_LBUTTONUP) Click();
}

// ---- TButton ----------------------------------------------------------------

const ClassInfo& TButton::StaticClass() {
  static const ClassInfo info = ClassBuilder<TButton>("TButton", &TControl::StaticClass())
                                    .Property("ModalResult", &TButton::ModalResult, &TButton::SetModalResult)
                                    .Property("Default", &TButton::Default, &TButton::SetDefault)
                                    .Build();
  return info;
}

TButton::TButton() {
  SetBounds(0, 0, 75, 25);
}

void TButton::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.system_class = "BUTTON";
  params.style |= WS_TABSTOP | (default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TButton::CommandNotify(WORD code) {
  if (code == BN_CLICKED) Click();
}

void TButton::Click() {
  TControl::Click();
  if (modal_result_ != 0) {
    if (TCustomForm* form = ParentForm()) form->SetModalResult(modal_result_);
  }
}

// ---- TSpeedButton -----------------------------------------------------------

const ClassInfo& TSpeedButton::StaticClass() {
  static const ClassInfo info = ClassBuilder<TSpeedButton>("TSpeedButton", &TControl::StaticClass())
                                    .Property("Flat", &TSpeedButton::Flat, &TSpeedButton::SetFlat)
                                    .Build();
  return info;
}

TSpeedButton::TSpeedButton() {
  SetBounds(0, 0, 23, 22);
  SetParentBackground(true);
}

void TSpeedButton::SetGlyph(win::UniqueBitmap glyph) {
  glyph_ = std::move(glyph);
  Invalidate();
}

void TSpeedButton::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.window_class = "TVellumSpeedButton";
}

bool TSpeedButton::EraseBackground(HDC dc) {
  if (flat_) {
    PaintParentBackground(dc);
    return true;
  }
  return TControl::EraseBackground(dc);
}

void TSpeedButton::Paint(HDC dc, const RECT& client) {
  RECT rect = client;
  if (pressed_) {
    DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
  } else if (!flat_ || mouse_in_control_) {
    DrawEdge(dc, &rect, flat_ ? BDR_RAISEDINNER : EDGE_RAISED, BF_RECT);
  }
  if (glyph_) {
    BITMAP info{};
    GetObjectA(glyph_.get(), sizeof info, &info);
    MemoryDC source(dc);
    SelectedObject selected(source.get(), glyph_.get());
    const int x = (client.right - info.bmWidth) / 2 + (pressed_ ? 1 : 0);
    const int y = (client.bottom - info.bmHeight) / 2 + (pressed_ ? 1 : 0);
    // The glyph's bottom-left pixel is its transparent colour, as glyph bitmaps have it.
    const COLORREF transparent = GetPixel(source.get(), 0, info.bmHeight - 1);
    TransparentBlt(dc, x, y, info.bmWidth, info.bmHeight, source.get(), 0, 0, info.bmWidth, info.bmHeight, transparent);
  }
}

void TSpeedButton::MouseEnter() {
  mouse_in_control_ = true;
  Invalidate();
}

void TSpeedButton::MouseLeave() {
  mouse_in_control_ = false;
  pressed_ = false;
  Invalidate();
}

void TSpeedButton::WndProc(Message& message) {
  switch (message.msg) {
    case WM_LBUTTONDOWN:
      if (Enabled()) {
        pressed_ = true;
        SetCapture(Handle());
        Invalidate();
      }
      return;
    case WM_LBUTTONUP: {
      const bool was_pressed = pressed_;
      pressed_ = false;
      if (GetCapture() == Handle()) ReleaseCapture();
      Invalidate();
      const POINT at{GET_X_LPARAM(message.lparam), GET_Y_LPARAM(message.lparam)};
      RECT client{};
      GetClientRect(Handle(), &client);
      if (was_pressed && PtInRect(&client, at)) Click();
      return;
    }
    default: break;
  }
  TControl::WndProc(message);
}

// ---- TImage -----------------------------------------------------------------

const ClassInfo& TImage::StaticClass() {
  static const ClassInfo info = ClassBuilder<TImage>("TImage", &TControl::StaticClass())
                                    .Property("Stretch", &TImage::Stretch, &TImage::SetStretch)
                                    .Property("Center", &TImage::Center, &TImage::SetCenter)
                                    .Property("Transparent", &TImage::Transparent, &TImage::SetTransparent)
                                    .Build();
  return info;
}

TImage::TImage() {
  SetBounds(0, 0, 105, 105);
}

void TImage::SetBitmap(win::UniqueBitmap bitmap) {
  bitmap_ = std::move(bitmap);
  Invalidate();
}

void TImage::SetIcon(win::UniqueIcon icon) {
  icon_ = std::move(icon);
  Invalidate();
}

void TImage::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.window_class = "TVellumImage";
}

bool TImage::EraseBackground(HDC dc) {
  PaintParentBackground(dc);
  return true;
}

void TImage::Paint(HDC dc, const RECT& client) {
  int width = 0, height = 0;
  if (bitmap_) {
    BITMAP info{};
    GetObjectA(bitmap_.get(), sizeof info, &info);
    width = info.bmWidth;
    height = info.bmHeight;
  } else if (icon_) {
    width = height = 32;
  } else {
    return;
  }
  RECT target{0, 0, width, height};
  if (stretch_) {
    target = client;
  } else if (center_) {
    OffsetRect(&target, (client.right - width) / 2, (client.bottom - height) / 2);
  }
  if (icon_) {
    DrawIconEx(dc, target.left, target.top, icon_.get(), target.right - target.left, target.bottom - target.top, 0,
               nullptr, DI_NORMAL);
    return;
  }
  MemoryDC source(dc);
  SelectedObject selected(source.get(), bitmap_.get());
  if (transparent_) {
    const COLORREF key = GetPixel(source.get(), 0, height - 1);
    TransparentBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, source.get(), 0,
                   0, width, height, key);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, source.get(), 0, 0,
               width, height, SRCCOPY);
  }
}

void TImage::WndProc(Message& message) {
  TControl::WndProc(message);
  if (message.msg == WM_LBUTTONUP) Click();
}

}  // namespace vellum::gui
