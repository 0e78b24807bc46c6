// The stand-in's own bar window, the Tessera: a small painted strip that is
// docked into the band's panel, a window of another process.
#pragma once

#include <windows.h>

#include <functional>

#include "runtime/exception.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::standin {

VELLUM_EXCEPTION_CLASS(ETesseraDock, Exception);

class TesseraBar {
 public:
  // `on_destroyed` runs when the window is destroyed from outside, which is
  // what happens when the band destroys the panel the bar is docked in.
  explicit TesseraBar(std::function<void()> on_destroyed);
  ~TesseraBar();
  TesseraBar(const TesseraBar&) = delete;
  TesseraBar& operator=(const TesseraBar&) = delete;

  // Makes the bar a visible child of `panel`, filling its client area; the
  // window is created on first use and moved on later calls. Raises
  // ETesseraDock or EOSError.
  void DockInto(HWND panel);
  // Sizes the docked bar as the band asked; ignored while not docked.
  void Resize(int width, int height);

  HWND window() const { return window_.get(); }
  bool docked() const { return docked_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Create();
  static void Paint(HWND window);

  std::function<void()> on_destroyed_;
  win::UniqueWindow window_;
  bool docked_ = false;
};

}  // namespace vellum::standin
