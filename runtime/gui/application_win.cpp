#include "runtime/gui/application_win.h"

#include "runtime/component/class_builder.h"
#include "runtime/exception.h"

namespace vellum::gui {

const ClassInfo& TApplication::StaticClass() {
  static const ClassInfo info = ClassBuilder<TApplication>("TApplication", &Component::StaticClass())
                                    .Factory(nullptr)
                                    .Event("OnIdle", &TApplication::OnIdle)
                                    .Event("OnHint", &TApplication::OnHint)
                                    .Build();
  return info;
}

TApplication::TApplication() = default;

TApplication& TApplication::Instance() {
  static TApplication application;
  return application;
}

void TApplication::HandleException(Component* sender, std::exception_ptr error) noexcept {
  if (!error) return;
  try {
    if (exception_hook_ && exception_hook_(sender, error)) return;
  } catch (...) {
    // A failing reporter must not take the host down; fall back to showing it.
  }
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    // EAbort is the silent exception: it ends an operation without a message.
  } catch (const std::exception& e) {
    try {
      if (OnException) {
        OnException(sender, e);
      } else {
        ShowException(e);
      }
    } catch (...) {
    }
  } catch (...) {
    ShowException(Exception("Unknown exception"));
  }
}

void TApplication::ShowException(const std::exception& error) noexcept {
  try {
    std::string message = error.what();
    if (!message.empty() && message.back() > '.') message += '.';
    MessageBoxA(GetActiveWindow(), message.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  } catch (...) {
  }
}

std::string TApplication::GetLongHint(const std::string& hint) {
  const auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

std::string TApplication::GetShortHint(const std::string& hint) {
  const auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}

void TApplication::SetHint(const std::string& hint) {
  if (!hint.empty()) hint_cancelled_ = false;
  if (hint == hint_) return;
  hint_ = hint;
  if (OnHint) OnHint(*this);
}

void TApplication::CancelHint() {
  hint_cancelled_ = true;
}

void TApplication::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace vellum::gui
