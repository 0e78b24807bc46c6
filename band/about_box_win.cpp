#include "band/about_box_win.h"

#include <shellapi.h>

#include "band/artwork_win.h"
#include "runtime/component/class_builder.h"
#include "runtime/gui/designer.h"

namespace vellum::band {

using gui::Design;

const ClassInfo& TAboutBox::StaticClass() {
  static const ClassInfo info = ClassBuilder<TAboutBox>("TAboutBox", &gui::TForm::StaticClass()).Build();
  return info;
}

TAboutBox::TAboutBox() {
  SetName("AboutBox");
  Design(*this, {{"Caption", "About"},
                 {"BorderStyle", "bsDialog"},
                 {"Position", "poScreenCenter"},
                 {"ClientWidth", 333},
                 {"ClientHeight", 213}});
  SetFontName("MS Sans Serif");
  SetFontHeight(-11);
  OnShow = [this](Component& sender) { FormShow(sender); };

  Panel1 = &CreateOwned<gui::TPanel>();
  Design(*Panel1, {{"Name", "Panel1"},
                   {"Left", 8},
                   {"Top", 8},
                   {"Width", 321},
                   {"Height", 161},
                   {"BevelInner", "bvRaised"},
                   {"BevelOuter", "bvLowered"}});
  Panel1->SetParent(this);

  imgLogo = &CreateOwned<gui::TImage>();
  Design(*imgLogo, {{"Name", "imgLogo"},
                    {"Left", 8},
                    {"Top", 6},
                    {"Width", 64},
                    {"Height", 64},
                    {"Stretch", true},
                    {"Center", true},
                    {"Transparent", true},
                    {"Cursor", static_cast<int>(gui::crHandPoint)},
                    {"Hint", "Click Me!"},
                    {"ShowHint", true}});
  imgLogo->SetBitmap(CreateLogoBitmap());
  imgLogo->SetParent(Panel1);

  auto label = [this](const char* name, int left, int top, const char* caption) {
    gui::TLabel& created = CreateOwned<gui::TLabel>();
    Design(created, {{"Name", name}, {"Left", left}, {"Top", top}, {"Caption", caption}});
    created.SetFontHeight(-13);
    created.SetParent(Panel1);
    return &created;
  };
  ProductName = label("ProductName", 88, 16, "Vellum Tessera");
  lblVersion = label("lblVersion", 88, 32, "Version");
  lblNotice = label("lblNotice", 8, 80, "Made by the Vellum developers. Free to use.");
  lblURL = label("lblURL", 8, 104, kMakerAddress);
  Design(*lblURL, {{"Cursor", static_cast<int>(gui::crHandPoint)}});
  lblURL->SetFontColor(gui::clNavy);
  lblURL->OnClick = [this](Component& sender) { lblURLClick(sender); };

  ProgramIcon = &CreateOwned<gui::TImage>();
  Design(*ProgramIcon,
         {{"Name", "ProgramIcon"}, {"Left", 253}, {"Top", 97}, {"Width", 64}, {"Height", 64}, {"Stretch", true}});
  ProgramIcon->SetIcon(CreateProgramIcon(64));
  ProgramIcon->SetParent(Panel1);

  OKButton = &CreateOwned<gui::TButton>();
  Design(*OKButton, {{"Name", "OKButton"},
                     {"Left", 127},
                     {"Top", 180},
                     {"Width", 75},
                     {"Height", 25},
                     {"Caption", "OK"},
                     {"Default", true},
                     {"ModalResult", gui::mrOk}});
  OKButton->SetParent(this);
}

void TAboutBox::FormShow(Component&) {
  lblVersion->SetCaption(kVersionText);
}

void TAboutBox::lblURLClick(Component&) {
  ShellExecuteA(nullptr, "open", kMakerAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace vellum::band
