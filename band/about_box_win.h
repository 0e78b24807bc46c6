// The about box: product name, version text, a notice and the web link.
#pragma once

#include "runtime/gui/controls_win.h"
#include "runtime/gui/form_win.h"

namespace vellum::band {

inline constexpr char kVersionText[] = "v7.0.02 Build 118";
inline constexpr char kMakerAddress[] = "https://www.example.com/vellum";

class TAboutBox : public gui::TForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  TAboutBox();

  gui::TPanel* Panel1 = nullptr;
  gui::TImage* imgLogo = nullptr;
  gui::TLabel* ProductName = nullptr;
  gui::TLabel* lblVersion = nullptr;
  gui::TLabel* lblNotice = nullptr;
  gui::TLabel* lblURL = nullptr;
  gui::TImage* ProgramIcon = nullptr;
  gui::TButton* OKButton = nullptr;

  void FormShow(Component& sender);
  void lblURLClick(Component& sender);
};

}  // namespace vellum::band
