// rundll32's entry for the taskbar panel:
//   rundll32 VellumDeskBand.dll,TaskbarPanel [/install | /uninstall]
// Nothing may unwind into rundll32; a panel that cannot start says why.
#include <windows.h>

#include <exception>
#include <string>

#include "band/exception_log_win.h"
#include "band/panel/taskbar_panel_win.h"

extern "C" void CALLBACK TaskbarPanel(HWND, HINSTANCE, LPSTR command_line, int) {
  vellum::band::BandRunsOutsideLoaderLock();
  try {
    vellum::band::RunTaskbarPanelCommand(command_line != nullptr ? command_line : "");
  } catch (const std::exception& error) {
    const std::string text = std::string("The taskbar panel could not start: ") + error.what();
    MessageBoxA(nullptr, text.c_str(), "Vellum Tessera", MB_OK | MB_ICONERROR);
  } catch (...) {
    MessageBoxA(nullptr, "The taskbar panel could not start.", "Vellum Tessera", MB_OK | MB_ICONERROR);
  }
}
