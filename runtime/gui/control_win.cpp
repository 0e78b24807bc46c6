#include "runtime/gui/control_win.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "runtime/component/class_builder.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/form_win.h"
#include "runtime/gui/menu_win.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::gui {

LRESULT CALLBACK ControlWindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);

namespace {

// Window classes are process-wide and point into this module's code: they
// must go when the module unloads, or a later window of that class would
// call into freed memory.
struct ClassRegistry {
  std::mutex lock;
  std::set<std::string> names;
};

ClassRegistry& Classes() {
  static ClassRegistry registry;
  return registry;
}

void EnsureClassRegistered(const TCreateParams& params) {
  WNDCLASSA window_class{};
  window_class.style = params.class_style;
  window_class.lpfnWndProc = ControlWindowProc;
  window_class.hInstance = ModuleInstance();
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.lpszClassName = params.window_class.c_str();
  RegisterModuleWindowClass(window_class);
}

const char kControlProperty[] = "VellumControl";

}  // namespace

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return module;
}

void RegisterModuleWindowClass(const WNDCLASSA& window_class) {
  ClassRegistry& registry = Classes();
  std::lock_guard guard(registry.lock);
  if (registry.names.count(window_class.lpszClassName) != 0) return;
  if (RegisterClassA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    win::RaiseLastOSError("RegisterClassA");
  }
  registry.names.insert(window_class.lpszClassName);
}

void UnregisterWindowClasses() {
  ClassRegistry& registry = Classes();
  std::lock_guard guard(registry.lock);
  for (const std::string& name : registry.names) UnregisterClassA(name.c_str(), ModuleInstance());
  registry.names.clear();
}

COLORREF ColorToRGB(TColor color) {
  if ((color & kSystemColorFlag) != 0) return GetSysColor(static_cast<int>(color & 0xFF));
  return color;
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  TControl* control = TControl::FromHandle(window);
  if (control == nullptr && msg == WM_NCCREATE) {
    control = static_cast<TControl*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    if (control != nullptr) {
      SetPropA(window, kControlProperty, control);
      control->handle_ = window;
    }
  }
  if (control == nullptr) return DefWindowProcA(window, msg, wparam, lparam);
  Message message{msg, wparam, lparam, 0};
  try {
    control->WndProc(message);
  } catch (...) {
    // The catch point of every message handler.
    Application().HandleException(control, std::current_exception());
  }
  if (msg == WM_NCDESTROY) control->DetachWindow();
  return message.result;
}

const ClassInfo& TControl::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TControl>("TControl", &Component::StaticClass())
          .Property("Left", &TControl::Left, &TControl::SetLeft)
          .Property("Top", &TControl::Top, &TControl::SetTop)
          .Property("Width", &TControl::Width, &TControl::SetWidth)
          .Property("Height", &TControl::Height, &TControl::SetHeight)
          .Enumeration("Align", &TControl::Align, &TControl::SetAlign,
                       {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"})
          .Property("Visible", &TControl::Visible, &TControl::SetVisible)
          .Property("Enabled", &TControl::Enabled, &TControl::SetEnabled)
          .Property("Caption", &TControl::Caption, &TControl::SetCaption)
          .Property("Hint", &TControl::Hint, &TControl::SetHint)
          .Property("ShowHint", &TControl::ShowHint, &TControl::SetShowHint)
          .Property("Color", &TControl::Color, &TControl::SetColor)
          .Property("Cursor", &TControl::Cursor, &TControl::SetCursor)
          .Property("ParentBackground", &TControl::ParentBackground, &TControl::SetParentBackground)
          .Reference<TPopupMenu>("PopupMenu", &TControl::PopupMenu, &TControl::SetPopupMenu)
          .Event("OnClick", &TControl::OnClick)
          .Event("OnResize", &TControl::OnResize)
          .Build();
  return info;
}

TControl::TControl() = default;

TControl::~TControl() {
  for (TControl* child : controls_) child->parent_ = nullptr;
  controls_.clear();
  if (parent_ != nullptr) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  DestroyHandle();
}

void TControl::DestroyHandle() {
  if (handle_ == nullptr) return;
  // Detach first: the messages DestroyWindow sends must not reach a half-destroyed object.
  HWND window = handle_;
  if (default_proc_ != nullptr) SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(default_proc_));
  RemovePropA(window, kControlProperty);
  DetachWindow();
  DestroyWindow(window);
}

void TControl::DetachWindow() {
  if (handle_ != nullptr) RemovePropA(handle_, kControlProperty);
  handle_ = nullptr;
  default_proc_ = nullptr;
  for (TControl* child : controls_) {
    if (child->handle_ != nullptr && !IsWindow(child->handle_)) child->DetachWindow();
  }
}

TControl* TControl::FromHandle(HWND window) {
  if (window == nullptr) return nullptr;
  return static_cast<TControl*>(GetPropA(window, kControlProperty));
}

TControl* TControl::FindControlAt(POINT screen_point) {
  HWND window = WindowFromPoint(screen_point);
  if (window == nullptr) return nullptr;
  // WindowFromPoint skips disabled children; look through them too. Labels
  // are WS_EX_TRANSPARENT only to be painted over their parent: they are
  // still controls with hints, so transparent children are not skipped.
  for (;;) {
    POINT client = screen_point;
    ScreenToClient(window, &client);
    HWND child = ChildWindowFromPointEx(window, client, CWP_SKIPINVISIBLE);
    if (child == nullptr || child == window) break;
    window = child;
  }
  for (; window != nullptr; window = GetParent(window)) {
    if (TControl* control = FromHandle(window)) return control;
  }
  return nullptr;
}

void TControl::SetParent(TControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (parent_ != nullptr) {
    parent_->controls_.push_back(this);
    if (handle_ != nullptr) {
      ::SetParent(handle_, parent_->Handle());
    } else if (parent_->HandleAllocated()) {
      CreateHandles();
    }
    if (align_ != alNone) parent_->Realign();
  }
}

void TControl::SetParentWindow(HWND parent) {
  parent_window_ = parent;
  if (handle_ != nullptr) ::SetParent(handle_, parent);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (handle_ != nullptr) {
    // The window answers with WM_WINDOWPOSCHANGED, which takes the new
    // bounds, lays out the children and fires OnResize when the size changed.
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    const bool resized = width != width_ || height != height_;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (resized) Realign();
  }
  if (align_ != alNone && parent_ != nullptr && !parent_->realigning_) parent_->Realign();
}

int TControl::ClientWidth() const {
  if (handle_ == nullptr) return width_;
  RECT rect{};
  GetClientRect(handle_, &rect);
  return rect.right;
}

int TControl::ClientHeight() const {
  if (handle_ == nullptr) return height_;
  RECT rect{};
  GetClientRect(handle_, &rect);
  return rect.bottom;
}

void TControl::SetClientWidth(int value) {
  SetWidth(width_ - ClientWidth() + value);
}
void TControl::SetClientHeight(int value) {
  SetHeight(height_ - ClientHeight() + value);
}

void TControl::SetAlign(TAlign align) {
  align_ = align;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetVisible(bool visible) {
  visible_ = visible;
  if (handle_ != nullptr) ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
  if (parent_ != nullptr && align_ != alNone) parent_->Realign();
}

void TControl::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (handle_ != nullptr) EnableWindow(handle_, enabled);
  Invalidate();
}

void TControl::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_ != nullptr) {
    SetWindowTextA(handle_, caption.c_str());
    Invalidate();
  }
}

void TControl::SetColor(TColor color) {
  color_ = color;
  Invalidate();
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  popup_menu_ = menu;
  if (menu != nullptr) FreeNotification(*menu);
}

void TControl::SetFontName(const std::string& name) {
  font_name_ = name;
  UpdateFont();
}

void TControl::SetFontHeight(int height) {
  font_height_ = height;
  UpdateFont();
}

void TControl::SetFontColor(TColor color) {
  font_color_ = color;
  Invalidate();
}

void TControl::UpdateFont() {
  if (handle_ == nullptr) return;
  win::UniqueFont font(CreateFontA(font_height_, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, font_name_.c_str()));
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  font_ = std::move(font);  // the old font is freed only after the window stopped using it
}

HWND TControl::Handle() {
  if (handle_ == nullptr) {
    if (parent_ != nullptr) parent_->Handle();
    if (handle_ == nullptr) CreateWnd();
  }
  return handle_;
}

void TControl::CreateHandles() {
  Handle();
  for (TControl* child : std::vector<TControl*>(controls_)) child->CreateHandles();
  Realign();
}

void TControl::CreateParams(TCreateParams& params) {
  params.window_class = "TVellumControl";
  params.caption = caption_;
  params.style =
      WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | (visible_ ? WS_VISIBLE : 0) | (enabled_ ? 0 : WS_DISABLED);
  params.x = left_;
  params.y = top_;
  params.width = width_;
  params.height = height_;
  params.parent = parent_ != nullptr ? parent_->Handle() : parent_window_;
}

void TControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if ((params.style & WS_CHILD) != 0 && params.parent == nullptr) {
    throw EInvalidOperation("Control '" + Name() + "' has no parent window");
  }
  HWND window = nullptr;
  if (params.system_class.empty()) {
    EnsureClassRegistered(params);
    window =
        CreateWindowExA(params.ex_style, params.window_class.c_str(), params.caption.c_str(), params.style, params.x,
                        params.y, params.width, params.height, params.parent, nullptr, ModuleInstance(), this);
  } else {
    window =
        CreateWindowExA(params.ex_style, params.system_class.c_str(), params.caption.c_str(), params.style, params.x,
                        params.y, params.width, params.height, params.parent, nullptr, ModuleInstance(), nullptr);
    if (window != nullptr) {
      handle_ = window;
      SetPropA(window, kControlProperty, this);
      default_proc_ = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlWindowProc)));
    }
  }
  if (window == nullptr) win::RaiseLastOSError("CreateWindowExA");
  handle_ = window;
  UpdateFont();
  UpdateBoundsFromWindow();
}

void TControl::UpdateBoundsFromWindow() {
  if (handle_ == nullptr) return;
  RECT rect{};
  GetWindowRect(handle_, &rect);
  HWND parent = GetParent(handle_);
  if (parent != nullptr && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD) != 0) {
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  }
  left_ = rect.left;
  top_ = rect.top;
  width_ = rect.right - rect.left;
  height_ = rect.bottom - rect.top;
}

LRESULT TControl::Perform(UINT msg, WPARAM wparam, LPARAM lparam) {
  Message message{msg, wparam, lparam, 0};
  WndProc(message);
  return message.result;
}

void TControl::Invalidate() {
  if (handle_ != nullptr) InvalidateRect(handle_, nullptr, TRUE);
}

void TControl::Click() {
  if (OnClick) OnClick(*this);
}

TCustomForm* TControl::ParentForm() {
  for (TControl* control = this; control != nullptr; control = control->parent_) {
    if (auto* form = dynamic_cast<TCustomForm*>(control)) return form;
  }
  return nullptr;
}

void TControl::Realign() {
  if (realigning_) return;
  realigning_ = true;
  RECT area{0, 0, ClientWidth(), ClientHeight()};
  auto place = [&](TAlign which) {
    for (TControl* child : controls_) {
      if (child->align_ != which || !child->visible_) continue;
      switch (which) {
        case alTop:
          child->SetBounds(area.left, area.top, area.right - area.left, child->height_);
          area.top += child->height_;
          break;
        case alBottom:
          child->SetBounds(area.left, area.bottom - child->height_, area.right - area.left, child->height_);
          area.bottom -= child->height_;
          break;
        case alLeft:
          child->SetBounds(area.left, area.top, child->width_, area.bottom - area.top);
          area.left += child->width_;
          break;
        case alRight:
          child->SetBounds(area.right - child->width_, area.top, child->width_, area.bottom - area.top);
          area.right -= child->width_;
          break;
        case alClient: child->SetBounds(area.left, area.top, area.right - area.left, area.bottom - area.top); break;
        case alNone: break;
      }
    }
  };
  for (TAlign which : {alTop, alBottom, alLeft, alRight, alClient}) place(which);
  realigning_ = false;
}

void TControl::Resize() {
  if (OnResize) OnResize(*this);
}

void TControl::Loaded() {
  Realign();
}

void TControl::Notification(Component& component, Operation operation) {
  if (operation == Operation::kRemove && &component == popup_menu_) popup_menu_ = nullptr;
}

void TControl::Paint(HDC, const RECT&) {}

void TControl::PaintParentBackground(HDC dc) {
  HWND parent = GetParent(handle_);
  if (parent == nullptr) return;
  // Let the parent erase into our DC with its own coordinates, so a themed
  // or coloured parent background shows through this control.
  POINT origin{0, 0};
  MapWindowPoints(handle_, parent, &origin, 1);
  POINT previous{};
  OffsetViewportOrgEx(dc, -origin.x, -origin.y, &previous);
  SendMessageA(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

bool TControl::EraseBackground(HDC dc) {
  if (parent_background_ && GetParent(handle_) != nullptr) {
    PaintParentBackground(dc);
    return true;
  }
  RECT client{};
  GetClientRect(handle_, &client);
  const win::UniqueBrush brush(CreateSolidBrush(ColorToRGB(color_)));
  FillRect(dc, &client, brush.get());
  return true;
}

void TControl::CommandNotify(WORD) {}

void TControl::DefaultHandler(Message& message) {
  if (handle_ == nullptr) return;
  message.result = default_proc_ != nullptr
                       ? CallWindowProcA(default_proc_, handle_, message.msg, message.wparam, message.lparam)
                       : DefWindowProcA(handle_, message.msg, message.wparam, message.lparam);
}

void TControl::WndProc(Message& message) {
  switch (message.msg) {
    case WM_PAINT:
      if (default_proc_ == nullptr) {
        const win::PaintScope paint(handle_);
        RECT client{};
        GetClientRect(handle_, &client);
        Paint(paint.get(), client);
        return;
      }
      break;
    case WM_ERASEBKGND:
      if (default_proc_ == nullptr) {
        message.result = EraseBackground(reinterpret_cast<HDC>(message.wparam)) ? 1 : 0;
        return;
      }
      break;
    case WM_WINDOWPOSCHANGED: {
      const int old_width = width_, old_height = height_;
      UpdateBoundsFromWindow();
      DefaultHandler(message);
      if (old_width != width_ || old_height != height_) {
        Realign();
        Resize();
      }
      return;
    }
    case WM_COMMAND:
      if (message.lparam != 0) {
        if (TControl* child = FromHandle(reinterpret_cast<HWND>(message.lparam))) {
          child->CommandNotify(HIWORD(message.wparam));
          return;
        }
      }
      break;
    case WM_CONTEXTMENU:
      if (popup_menu_ != nullptr) {
        POINT at{static_cast<short>(LOWORD(message.lparam)), static_cast<short>(HIWORD(message.lparam))};
        if (message.lparam == -1) GetCursorPos(&at);
        popup_menu_->Popup(at.x, at.y, Handle());
        return;
      }
      break;
    case WM_SETCURSOR:
      if (cursor_ == crHandPoint && LOWORD(message.lparam) == HTCLIENT) {
        ::SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
        message.result = TRUE;
        return;
      }
      break;
    case WM_CHAR:
      if (TCustomForm* form = ParentForm(); form != nullptr && form != this && form->KeyPreview()) {
        char key = static_cast<char>(message.wparam);
        form->DoKeyPress(key);
        if (key == 0) return;
        message.wparam = static_cast<unsigned char>(key);
      }
      break;
    case CM_MOUSEENTER: MouseEnter(); return;
    case CM_MOUSELEAVE: MouseLeave(); return;
    default: break;
  }
  DefaultHandler(message);
}

}  // namespace vellum::gui
