// The application object: the catch point for exceptions that escape message
// handlers, the idle event, and the hint of the control under the mouse.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "runtime/component/component.h"

namespace vellum::gui {

class TApplication : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  // The one application object of the module, owner of forms such as the about box.
  static TApplication& Instance();

  // Takes whatever escaped a handler. An installed exception hook (the
  // exception-reporting subsystem) sees it first; otherwise EAbort is silent,
  // OnException gets it when assigned, and ShowException shows it. Never throws.
  void HandleException(Component* sender, std::exception_ptr error) noexcept;
  void HandleException(Component* sender) noexcept { HandleException(sender, std::current_exception()); }
  // Shows the exception's message in a message box titled with the application's title.
  void ShowException(const std::exception& error) noexcept;

  // The exception-reporting subsystem's entry: answers true when it took the exception.
  using ExceptionHook = std::function<bool(Component* sender, std::exception_ptr error)>;
  void SetExceptionHook(ExceptionHook hook) { exception_hook_ = std::move(hook); }

  std::function<void(Component* sender, const std::exception& error)> OnException;
  std::function<void(Component& sender, bool& done)> OnIdle;
  std::function<void(Component& sender)> OnHint;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }

  // The long part of a hint: the text after '|', or the whole hint without one.
  static std::string GetLongHint(const std::string& hint);
  static std::string GetShortHint(const std::string& hint);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  // Hides a shown hint window; the next mouse move may show it again.
  void CancelHint();
  bool HintCancelled() const { return hint_cancelled_; }

  // Dispatches every waiting message of this thread.
  static void ProcessMessages();

 private:
  TApplication();
  ExceptionHook exception_hook_;
  std::string title_ = "Vellum";
  std::string hint_;
  bool hint_cancelled_ = false;
};

inline TApplication& Application() {
  return TApplication::Instance();
}

}  // namespace vellum::gui
