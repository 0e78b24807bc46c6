// The standard controls: panel, label, push button, flat speed button, image.
#pragma once

#include "runtime/gui/control_win.h"

namespace vellum::gui {

enum TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TPanel();
  TBevelCut BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TBevelCut value);
  TBevelCut BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TBevelCut value);

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint(HDC dc, const RECT& client) override;

 private:
  TBevelCut bevel_outer_ = bvRaised;
  TBevelCut bevel_inner_ = bvNone;
};

class TLabel : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TLabel();
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value);
  // Without word wrap a label sizes itself to its caption.
  void AdjustSize();

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint(HDC dc, const RECT& client) override;
  bool EraseBackground(HDC dc) override;
  void WndProc(Message& message) override;

 private:
  bool word_wrap_ = false;
};

class TButton : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TButton();
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int value) { modal_result_ = value; }
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  // OnClick, then the button's modal result becomes its form's.
  void Click() override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CommandNotify(WORD code) override;

 private:
  int modal_result_ = 0;
  bool default_ = false;
};

// A flat tool button with a 16 x 16 glyph: no frame until the mouse is over it.
class TSpeedButton : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TSpeedButton();
  bool Flat() const { return flat_; }
  void SetFlat(bool value) { flat_ = value; }
  void SetGlyph(win::UniqueBitmap glyph);
  HBITMAP Glyph() const { return glyph_.get(); }
  bool MouseInControl() const { return mouse_in_control_; }

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint(HDC dc, const RECT& client) override;
  bool EraseBackground(HDC dc) override;
  void WndProc(Message& message) override;
  void MouseEnter() override;
  void MouseLeave() override;

 private:
  bool flat_ = false;
  bool mouse_in_control_ = false;
  bool pressed_ = false;
  win::UniqueBitmap glyph_;
};

class TImage : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TImage();
  bool Stretch() const { return stretch_; }
  void SetStretch(bool value) { stretch_ = value; }
  bool Center() const { return center_; }
  void SetCenter(bool value) { center_ = value; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  // The picture: a bitmap, or an icon (drawn with DrawIconEx).
  void SetBitmap(win::UniqueBitmap bitmap);
  void SetIcon(win::UniqueIcon icon);
  bool HasPicture() const { return bitmap_.valid() || icon_.valid(); }

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint(HDC dc, const RECT& client) override;
  bool EraseBackground(HDC dc) override;
  void WndProc(Message& message) override;

 private:
  bool stretch_ = false;
  bool center_ = false;
  bool transparent_ = false;
  win::UniqueBitmap bitmap_;
  win::UniqueIcon icon_;
};

}  // namespace vellum::gui
