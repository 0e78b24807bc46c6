#include "runtime/gui/form_win.h"

#include "runtime/component/class_builder.h"
#include "runtime/gui/action_win.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/controls_win.h"

namespace vellum::gui {

namespace {

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  if (IsWindowVisible(window) && IsWindowEnabled(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

TButton* FindDefaultButton(const TControl& parent) {
  for (TControl* child : parent.Controls()) {
    if (!child->Visible() || !child->Enabled()) continue;
    if (auto* button = dynamic_cast<TButton*>(child); button != nullptr && button->Default()) return button;
    if (TButton* inner = FindDefaultButton(*child)) return inner;
  }
  return nullptr;
}

}  // namespace

const ClassInfo& TCustomForm::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TCustomForm>("TForm", &TControl::StaticClass())
          .Property("ClientWidth", &TCustomForm::ClientWidth, &TCustomForm::SetClientWidth)
          .Property("ClientHeight", &TCustomForm::ClientHeight, &TCustomForm::SetClientHeight)
          .Enumeration("BorderStyle", &TCustomForm::BorderStyle, &TCustomForm::SetBorderStyle,
                       {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"})
          .Enumeration(
              "Position", &TCustomForm::Position, &TCustomForm::SetPosition,
              {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter"})
          .Enumeration("WindowState", &TCustomForm::WindowState, &TCustomForm::SetWindowState,
                       {"wsNormal", "wsMinimized", "wsMaximized"})
          .Property("KeyPreview", &TCustomForm::KeyPreview, &TCustomForm::SetKeyPreview)
          .Property("AutoScroll", &TCustomForm::AutoScroll, &TCustomForm::SetAutoScroll)
          .Property("HelpFile", &TCustomForm::HelpFile, &TCustomForm::SetHelpFile)
          .Event("OnCreate", &TCustomForm::OnCreate)
          .Event("OnShow", &TCustomForm::OnShow)
          .Event("OnClose", &TCustomForm::OnClose)
          .Event("OnKeyPress", &TCustomForm::OnKeyPress)
          .Build();
  return info;
}

TCustomForm::TCustomForm() {
  SetVisible(false);
  SetBounds(0, 0, 320, 240);
}

TCustomForm::~TCustomForm() = default;

std::unique_ptr<TCustomForm> CreateParentedForm(const ClassInfo& form_class, HWND parent) {
  if (!form_class.InheritsFrom(TCustomForm::StaticClass())) {
    throw EInvalidOperation("Class " + form_class.Name() + " is not a form");
  }
  std::unique_ptr<Persistent> created = form_class.Create();
  std::unique_ptr<TCustomForm> form(static_cast<TCustomForm*>(created.release()));
  form->SetParentWindow(parent);
  form->AfterConstruction();
  return form;
}

void TCustomForm::AfterConstruction() {
  if (OnCreate) OnCreate(*this);
}

void TCustomForm::SetWindowState(TWindowState value) {
  window_state_ = value;
  if (HandleAllocated() && Visible()) {
    ShowWindow(Handle(), value == wsMaximized ? SW_MAXIMIZE : value == wsMinimized ? SW_MINIMIZE : SW_RESTORE);
  }
}

void TCustomForm::SetClientWidth(int value) {
  if (HandleAllocated()) {
    TControl::SetClientWidth(value);
    return;
  }
  setting_client_size_ = true;
  SetWidth(value);
  setting_client_size_ = false;
  client_width_designed_ = true;
}

void TCustomForm::SetClientHeight(int value) {
  if (HandleAllocated()) {
    TControl::SetClientHeight(value);
    return;
  }
  setting_client_size_ = true;
  SetHeight(value);
  setting_client_size_ = false;
  client_height_designed_ = true;
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
  if (!HandleAllocated() && !setting_client_size_) {
    // A size set directly replaces a designed client size.
    if (width != Width()) client_width_designed_ = false;
    if (height != Height()) client_height_designed_ = false;
  }
  TControl::SetBounds(left, top, width, height);
}

void TCustomForm::CreateWnd() {
  TControl::CreateWnd();
  if (!client_width_designed_ && !client_height_designed_) return;
  RECT window{};
  RECT client{};
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const int width = Width() + (client_width_designed_ ? window.right - window.left - client.right : 0);
  const int height = Height() + (client_height_designed_ ? window.bottom - window.top - client.bottom : 0);
  client_width_designed_ = client_height_designed_ = false;
  int left = Left();
  int top = Top();
  if (ParentWindow() == nullptr && (position_ == poScreenCenter || position_ == poDesktopCenter)) {
    left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  SetBounds(left, top, width, height);
}

void TCustomForm::CreateParams(TCreateParams& params) {
  TControl::CreateParams(params);
  params.window_class = "TVellumForm";
  params.style &= ~static_cast<DWORD>(WS_VISIBLE);
  if (ParentWindow() != nullptr) {
    params.style =
        WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_CAPTION | WS_THICKFRAME | (Visible() ? WS_VISIBLE : 0);
    params.parent = ParentWindow();
    return;
  }
  params.parent = nullptr;
  switch (border_style_) {
    case bsNone: params.style = WS_POPUP; break;
    case bsSingle: params.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case bsDialog:
      params.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
      params.ex_style = WS_EX_DLGMODALFRAME;
      break;
    case bsToolWindow:
      params.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
      params.ex_style = WS_EX_TOOLWINDOW;
      break;
    default: params.style = WS_OVERLAPPEDWINDOW; break;
  }
  params.style |= WS_CLIPCHILDREN;
  if (position_ == poScreenCenter || position_ == poDesktopCenter) {
    params.x = (GetSystemMetrics(SM_CXSCREEN) - params.width) / 2;
    params.y = (GetSystemMetrics(SM_CYSCREEN) - params.height) / 2;
  }
}

void TCustomForm::SetVisible(bool visible) {
  const bool was_visible = Visible();
  TControl::SetVisible(visible);
  if (visible && HandleAllocated()) {
    ShowWindow(Handle(), window_state_ == wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    if (!was_visible && OnShow) OnShow(*this);
  }
}

void TCustomForm::Show() {
  CreateHandles();
  SetVisible(true);
}

void TCustomForm::Close() {
  if (in_modal_loop_) {
    modal_result_ = mrCancel;
    return;
  }
  TCloseAction action = caHide;
  if (OnClose) OnClose(*this, action);
  if (action == caHide) Hide();
  if (action == caMinimize) SetWindowState(wsMinimized);
}

int TCustomForm::ShowModal() {
  // Everything else of this thread's top-level windows is disabled while the
  // form is up, as a modal dialog box would do.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  for (HWND window : disabled) EnableWindow(window, FALSE);
  modal_result_ = mrNone;
  in_modal_loop_ = true;
  Show();
  SetForegroundWindow(Handle());
  MSG message;
  while (modal_result_ == mrNone && HandleAllocated()) {
    if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
      PostQuitMessage(static_cast<int>(message.wParam));
      modal_result_ = mrCancel;
      break;
    }
    if (!IsDialogMessageA(Handle(), &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  in_modal_loop_ = false;
  TCloseAction action = caHide;
  if (OnClose) OnClose(*this, action);
  for (HWND window : disabled) EnableWindow(window, TRUE);
  if (HandleAllocated()) Hide();
  return modal_result_;
}

void TCustomForm::UpdateActions() {
  for (int i = 0; i < ComponentCount(); ++i) {
    if (auto* list = dynamic_cast<TActionList*>(Components(i))) list->UpdateActions();
  }
}

bool TCustomForm::ClickDefaultButton() {
  TButton* button = FindDefaultButton(*this);
  if (button == nullptr) return false;
  button->Click();
  return true;
}

void TCustomForm::DoKeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(*this, key);
}

void TCustomForm::WndProc(Message& message) {
  switch (message.msg) {
    case WM_CLOSE: Close(); return;
    case WM_CHAR: {
      char key = static_cast<char>(message.wparam);
      DoKeyPress(key);
      if (key == 0) return;
      break;
    }
    case WM_COMMAND:
      // Enter and Esc in the modal loop arrive as IDOK / IDCANCEL.
      if (message.lparam == 0 && in_modal_loop_ && LOWORD(message.wparam) == IDCANCEL) {
        modal_result_ = mrCancel;
        return;
      }
      if (message.lparam == 0 && in_modal_loop_ && LOWORD(message.wparam) == IDOK && ClickDefaultButton()) return;
      break;
    default: break;
  }
  TControl::WndProc(message);
}

}  // namespace vellum::gui
