// The demo taskbar's panel mode: a taskbar that hosts no desk bands, the
// band's taskbar panel on it (rundll32 running the DLL's TaskbarPanel) and
// the stand-in Vellum docked into the panel.
#pragma once

#include <string>

namespace vellum::demo {

struct PanelDemoOptions {
  std::string dll = "VellumDeskBand.dll";  // what rundll32 loads
  std::string vellum;                      // the stand-in; none: the panel alone
  std::string log = "vellum_standin.log";
  std::string screenshot;
  int seconds = 0;  // 0: until the taskbar is closed
};

int RunPanelDemo(const PanelDemoOptions& options);

}  // namespace vellum::demo
