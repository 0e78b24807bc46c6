// The band's form: an empty docking panel for Vellum's bar, with a connect
// button and a short label. It publishes its window handles in the registry,
// announces itself to Vellum's hidden window with WM_HOTKEY 778, learns
// Vellum's window from WM_HOTKEY 777 and tells Vellum its panel size,
// debounced by a 250 ms one-shot timer.
#pragma once

#include <memory>
#include <string>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "runtime/gui/action_win.h"
#include "runtime/gui/controls_win.h"
#include "runtime/gui/menu_win.h"
#include "runtime/gui/timer_win.h"
#include "runtime/registry/registry_ini_file_win.h"
#include "shellext/bandform/base_band_form_win.h"

namespace vellum::band {

// The host link's fixed names and numbers.
inline constexpr char kVellumKey[] = "Software\\Larchwood\\Vellum7\\";
inline constexpr char kTesseraSection[] = "Tessera";
inline constexpr char kHostWindowName[] = "Hidden Vellum Window";
inline constexpr char kHostClassPart[] = "TfrmVellumHidden";
inline constexpr WPARAM kAnnounce = 778;
inline constexpr WPARAM kLinkOrSize = 777;
inline constexpr int kLinked = 2;

class TVellumDeskBandForm : public shellext::DUduzDeskBandForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  TVellumDeskBandForm();
  ~TVellumDeskBandForm() override;

  // Designed components.
  gui::TPanel* pnlDock = nullptr;
  gui::TSpeedButton* cmdActivateVellum = nullptr;
  gui::TLabel* lblMsg = nullptr;
  gui::TActionList* ActionList1 = nullptr;
  gui::TAction* act_Connect = nullptr;
  gui::TAction* act_close = nullptr;
  gui::TAction* act_AboutTessera = nullptr;
  gui::TAction* act_TestError = nullptr;
  gui::TPopupMenu* PopupMenuSysTray = nullptr;
  gui::TMenuItem* mnu_Connect = nullptr;
  gui::TMenuItem* AboutTessera1 = nullptr;
  gui::TMenuItem* mnuSTExit = nullptr;
  gui::TMenuItem* estError1 = nullptr;
  gui::TTimer* Timer1 = nullptr;
  exceptlog::TDeveruVuz* DeveruVuz1 = nullptr;

  // Handlers.
  void EasyDeskBandFormCreate(Component& sender);
  void EasyDeskBandFormClose(Component& sender, gui::TCloseAction& action);
  void EasyDeskBandFormKeyPress(Component& sender, char& key);
  void pnlDockResize(Component& sender);
  void Timer1Timer(Component& sender);
  void PopupMenuSysTrayPopup(Component& sender);
  void cmdActivateVellumClick(Component& sender);
  void act_ConnectExecute(Component& sender);
  void act_closeExecute(Component& sender);
  void act_AboutTesseraExecute(Component& sender);
  void act_TestErrorExecute(Component& sender);
  void DeveruVuz1ExceptionNotify(const exceptlog::TRuzadaExceptionRecord& RuzadaExceptionRecord, bool& Handled);

  // State, read by tests and the demo.
  int LinkState() const { return FLinkState; }
  HWND HostWindow() const { return FHostWindow; }
  const std::string& CommandLine() const { return FCommandLine; }
  bool RegistryOpen() const { return FRegIni != nullptr; }

 protected:
  void WndProc(gui::Message& message) override;

 private:
  void WriteInvitation();
  bool AnnounceToHost();
  void StartResizeTimer();
  void SendSizeToHost();
  static bool IsHostClass(HWND window);

  int FLinkState = 0;
  std::unique_ptr<RegistryIniFile> FRegIni;
  std::string FSection;
  std::string FCommandLine;
  HWND FHostWindow = nullptr;
};

}  // namespace vellum::band
