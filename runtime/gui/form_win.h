// Forms: top-level windows or, with a ParentWindow, child windows inside a
// window of another program. OnCreate fires after construction is complete
// (CreateForm), OnClose decides what closing means (hide, by default).
#pragma once

#include <memory>

#include "runtime/gui/control_win.h"

namespace vellum::gui {

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class TCustomForm : public TControl {
  VELLUM_PERSISTENT_CLASS()

 public:
  TCustomForm();
  ~TCustomForm() override;

  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle value) { border_style_ = value; }
  TPosition Position() const { return position_; }
  void SetPosition(TPosition value) { position_ = value; }
  TWindowState WindowState() const { return window_state_; }
  void SetWindowState(TWindowState value);
  bool KeyPreview() const { return key_preview_; }
  void SetKeyPreview(bool value) { key_preview_ = value; }
  bool AutoScroll() const { return auto_scroll_; }
  void SetAutoScroll(bool value) { auto_scroll_ = value; }
  const std::string& HelpFile() const { return help_file_; }
  void SetHelpFile(const std::string& value) { help_file_ = value; }
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int value) { modal_result_ = value; }
  // Before the window exists its frame is unknown: a designed client size is
  // kept as the size and made the client area's once the window is created.
  void SetClientWidth(int value);
  void SetClientHeight(int value);
  void SetBounds(int left, int top, int width, int height) override;

  std::function<void(Component& sender)> OnCreate;
  std::function<void(Component& sender)> OnShow;
  std::function<void(Component& sender, TCloseAction& action)> OnClose;
  std::function<void(Component& sender, char& key)> OnKeyPress;

  // Runs once the most derived constructor has finished: fires OnCreate.
  virtual void AfterConstruction();
  void Show();
  void Hide() { SetVisible(false); }
  // Standard close: OnClose may change the action; caHide hides the form.
  void Close();
  // Shows the form and runs a message loop until ModalResult is set.
  int ShowModal();
  // Lets every action list of the form update its actions' state.
  void UpdateActions();
  void DoKeyPress(char& key);

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  void WndProc(Message& message) override;
  void SetVisible(bool visible) override;

 private:
  // Enter in the modal loop: the default button's click.
  bool ClickDefaultButton();

  TBorderStyle border_style_ = bsSizeable;
  TPosition position_ = poDesigned;
  TWindowState window_state_ = wsNormal;
  bool key_preview_ = false;
  bool auto_scroll_ = true;
  bool in_modal_loop_ = false;
  std::string help_file_;
  int modal_result_ = mrNone;
  bool client_width_designed_ = false;
  bool client_height_designed_ = false;
  bool setting_client_size_ = false;
};

using TForm = TCustomForm;

// Makes a form of class F and completes its construction (OnCreate).
template <typename F, typename... Args>
std::unique_ptr<F> CreateForm(Args&&... args) {
  auto form = std::make_unique<F>(std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

// Makes a form of class F as a child of a window of another program (the
// window exists before OnCreate runs), and completes its construction.
template <typename F>
std::unique_ptr<F> CreateParentedForm(HWND parent) {
  auto form = std::make_unique<F>();
  form->SetParentWindow(parent);
  form->AfterConstruction();
  return form;
}

// The same for a form class known only by its class information.
std::unique_ptr<TCustomForm> CreateParentedForm(const ClassInfo& form_class, HWND parent);

}  // namespace vellum::gui
