// Vellum's side of the host link: the hidden window the band announces itself
// to, its answers, and the docking of the Tessera into the band's panel.
#pragma once

#include <windows.h>

#include "band/testing/command_line.h"
#include "runtime/win/unique_handle_win.h"
#include "tools/vellum_standin/event_log_win.h"
#include "tools/vellum_standin/tessera_bar_win.h"

namespace vellum::standin {

class StandinWindow {
 public:
  // Registers the window class named in the options and creates the hidden
  // top-level window "Hidden Vellum Window". Raises EOSError.
  StandinWindow(const band::testing::StandinOptions& options, EventLog& log);
  StandinWindow(const StandinWindow&) = delete;
  StandinWindow& operator=(const StandinWindow&) = delete;

  HWND window() const { return window_.get(); }

  // Answers the "BarHandle" window unasked, as Vellum does when it finds the
  // band through the registry.
  void AnswerFromRegistry();
  // Docks the Tessera into the "DockPanel" window.
  void DockFromRegistry();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnHotkey(WPARAM id, LPARAM value);
  void AnswerTo(HWND band_window);

  EventLog& log_;
  TesseraBar bar_;
  win::UniqueWindow window_;
};

}  // namespace vellum::standin
