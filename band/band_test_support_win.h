// Test support for the band form: the form in a window of the test's own
// (as the band object creates it in the taskbar's band window), the host
// link's registry values, the stand-in's log, and a watcher that answers
// the message boxes the band shows.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "band/testing/command_line.h"
#include "band/testing/host_link_guard_win.h"
#include "band/testing/standin_process_win.h"
#include "band/vellum_desk_band_form_win.h"
#include "runtime/gui/gui_test_support_win.h"

namespace vellum::band::testing {

inline const std::vector<std::string> kHostLinkValues = {"BarHandle", "DockPanel", "InvitationFromBar2", "CMDLINE"};

// A REG_SZ value of the host link, or "<missing>".
inline std::string ReadLinkValue(const char* name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  const LSTATUS status =
      RegGetValueA(HKEY_CURRENT_USER, "Software\\Larchwood\\Vellum7\\Tessera", name, RRF_RT_ANY, &type, buffer, &size);
  if (status != ERROR_SUCCESS) return "<missing>";
  if (type != REG_SZ) return "<not REG_SZ>";
  return buffer;
}

inline std::string SignedDecimal(HWND window) {
  return FormatHandleText(HandleBits(reinterpret_cast<std::uintptr_t>(window)));
}

// The band form inside a host window of the band's usual size, with every
// control's window made, as the band object leaves it.
struct HostedBand {
  gui::testing::HostWindow host;
  std::unique_ptr<TVellumDeskBandForm> form;

  explicit HostedBand(int width = 300, int height = 28, COLORREF background = RGB(255, 0, 255))
      : host(width + 40, height + 20, background) {
    form = gui::CreateParentedForm<TVellumDeskBandForm>(host.get());
    form->SetBounds(0, 0, width, height);
    form->CreateHandles();
  }
  TVellumDeskBandForm* operator->() const { return form.get(); }
  HWND PanelWindow() const { return form->pnlDock->Handle(); }
  void Resize(int width, int height) { form->SetBounds(0, 0, width, height); }
  // A click on the connect button, as the mouse gives it.
  void ClickConnectButton() const {
    HWND button = form->cmdActivateVellum->Handle();
    SendMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  }
};

// The stand-in's log lines that start with `prefix`.
inline std::vector<std::string> LinesStartingWith(const band::testing::StandinProcess& standin,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (std::string& text : standin.Texts()) {
    if (text.rfind(prefix, 0) == 0) found.push_back(std::move(text));
  }
  return found;
}

inline DWORD TickOf(const band::testing::StandinProcess& standin, const std::string& text) {
  for (const band::testing::StandinLogLine& line : standin.Lines()) {
    if (line.text == text) return line.tick;
  }
  return 0;
}

// Waits until the band can send nothing more of what it was asked so far:
// every message posted to this thread is handled, the size debounce timer is
// idle (a pending one would still send), and a marker posted to the
// stand-in behind whatever the band posted there has been logged. After
// that, a line missing from the stand-in's log will not come.
inline bool BandSettled(const HostedBand& band, StandinProcess* standin = nullptr) {
  static std::atomic<unsigned> markers{0};
  gui::testing::QueueMarker queue;
  if (!queue.RoundTrip()) return false;
  if (!gui::testing::PumpUntil([&] { return !band->Timer1->Enabled(); }, gui::testing::kGenerousWaitMs)) return false;
  if (!queue.RoundTrip()) return false;
  if (standin == nullptr) return true;
  // The stand-in logs a WM_HOTKEY that means nothing to the host link as it is.
  const unsigned marker = ++markers;
  PostMessageA(standin->hidden_window(), WM_HOTKEY, 1, static_cast<LPARAM>(marker));
  return !standin->WaitFor("hotkey 1 " + std::to_string(marker), gui::testing::kGenerousWaitMs).empty();
}
inline bool BandSettled(const HostedBand& band, StandinProcess& standin) {
  return BandSettled(band, &standin);
}

// The message box watcher and the window finder live with the GUI
// library's test support; band tests name them from here.
using gui::testing::FindOwnWindow;
using gui::testing::MessageBoxWatcher;

}  // namespace vellum::band::testing
