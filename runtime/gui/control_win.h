// Controls: thin wrappers over Win32 windows. Every control owns one window
// (created on demand, children after their parent), keeps its designed
// properties while it has none, and routes every message through the virtual
// WndProc; whatever escapes a handler goes to the application object.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/component/component.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::gui {

class TPopupMenu;
class TCustomForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Colours: a COLORREF, or a system colour index with the top bit set.
using TColor = std::uint32_t;
constexpr TColor kSystemColorFlag = 0x80000000u;
constexpr TColor clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
constexpr TColor clWindow = kSystemColorFlag | COLOR_WINDOW;
constexpr TColor clWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;
constexpr TColor clNavy = RGB(0, 0, 128);
COLORREF ColorToRGB(TColor color);

enum TCursor { crDefault = 0, crHandPoint = -21 };

// Private messages the mouse tracking sends to the control under the mouse.
constexpr UINT CM_MOUSEENTER = 0xB013;
constexpr UINT CM_MOUSELEAVE = 0xB014;

struct Message {
  UINT msg = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  LRESULT result = 0;
};

struct TCreateParams {
  std::string window_class;  // our own class, registered on first use
  std::string system_class;  // or a system class ("BUTTON") that we subclass
  std::string caption;
  DWORD style = 0;
  DWORD ex_style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;
  UINT class_style = CS_DBLCLKS;
};

class TControl : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  TControl();
  ~TControl() override;

  TControl* Parent() const { return parent_; }
  void SetParent(TControl* parent);
  // A window of another program or library to live in (a parented form).
  HWND ParentWindow() const { return parent_window_; }
  void SetParentWindow(HWND parent);
  const std::vector<TControl*>& Controls() const { return controls_; }

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
  void SetTop(int value) { SetBounds(left_, value, width_, height_); }
  void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
  void SetHeight(int value) { SetBounds(left_, top_, width_, value); }
  virtual void SetBounds(int left, int top, int width, int height);
  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientWidth(int value);
  void SetClientHeight(int value);

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint) { hint_ = hint; }
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool value) { show_hint_ = value; }
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  int Cursor() const { return cursor_; }
  void SetCursor(int cursor) { cursor_ = cursor; }
  bool ParentBackground() const { return parent_background_; }
  void SetParentBackground(bool value) { parent_background_ = value; }
  TPopupMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(TPopupMenu* menu);
  const std::string& FontName() const { return font_name_; }
  void SetFontName(const std::string& name);
  int FontHeight() const { return font_height_; }
  void SetFontHeight(int height);
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor color);

  std::function<void(Component& sender)> OnClick;
  std::function<void(Component& sender)> OnResize;

  // The window, created now if it does not exist yet (with its parents' first).
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded() { Handle(); }
  // Creates the windows of this control and of all its children, depth first.
  void CreateHandles();
  void DestroyHandle();
  LRESULT Perform(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);
  void Invalidate();

  virtual void Click();
  // The form this control sits on (itself for a form); null if none.
  TCustomForm* ParentForm();
  // The control whose window is `window`, or null.
  static TControl* FromHandle(HWND window);
  // The control under a screen point, disabled ones included.
  static TControl* FindControlAt(POINT screen_point);

  // Lays out the children that have an Align.
  void Realign();

 protected:
  virtual void CreateParams(TCreateParams& params);
  virtual void CreateWnd();
  virtual void WndProc(Message& message);
  void DefaultHandler(Message& message);
  virtual void Paint(HDC dc, const RECT& client);
  virtual bool EraseBackground(HDC dc);
  virtual void Resize();
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  // Handles a WM_COMMAND notification about this control sent to its parent.
  virtual void CommandNotify(WORD code);
  void Loaded() override;
  void Notification(Component& component, Operation operation) override;
  HFONT Font() const { return font_.get(); }
  void PaintParentBackground(HDC dc);

 private:
  friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
  void UpdateFont();
  void UpdateBoundsFromWindow();
  void DetachWindow();

  HWND handle_ = nullptr;
  WNDPROC default_proc_ = nullptr;
  TControl* parent_ = nullptr;
  HWND parent_window_ = nullptr;
  std::vector<TControl*> controls_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  bool show_hint_ = false;
  bool parent_background_ = false;
  std::string caption_;
  std::string hint_;
  TColor color_ = clBtnFace;
  int cursor_ = crDefault;
  TPopupMenu* popup_menu_ = nullptr;
  std::string font_name_ = "MS Sans Serif";
  int font_height_ = -11;
  TColor font_color_ = clWindowText;
  win::UniqueFont font_;
  bool realigning_ = false;
};

// The module instance that registers our window classes (the DLL, not the host).
HINSTANCE ModuleInstance();
// Registers a window class of this module once (a class that exists already
// is taken as it is); it stays until UnregisterWindowClasses.
void RegisterModuleWindowClass(const WNDCLASSA& window_class);
// Unregisters every window class this module registered. The server's
// tear-down calls it once no window of these classes is left; nothing does
// at static destruction.
void UnregisterWindowClasses();

}  // namespace vellum::gui
