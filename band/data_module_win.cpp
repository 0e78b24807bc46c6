#include "band/data_module_win.h"

#include "band/band_ids.h"
#include "band/vellum_desk_band_form_win.h"
#include "runtime/component/class_builder.h"
#include "runtime/gui/designer.h"

namespace vellum::band {

const ClassInfo& TDataModule1::StaticClass() {
  static const ClassInfo info = ClassBuilder<TDataModule1>("TDataModule1", &Component::StaticClass()).Build();
  return info;
}

TDataModule1::TDataModule1() {
  SetName("DataModule1");
  EasyFactoryManager1 = &CreateOwned<shellext::DUduzFactoryManager>();
  EasyFactoryManager1->SetName("EasyFactoryManager1");

  EasyDesktopBandHandler1 = &CreateOwned<shellext::DUduzDesktopBandHandler>();
  gui::Design(*EasyDesktopBandHandler1, {{"Name", "EasyDesktopBandHandler1"}, {"MenuText", "Vellum Tessera 7"}});
  gui::Design(EasyDesktopBandHandler1->Registration(),
              {{"CLSID", kDeskBandClsid}, {"Description", "Vellum Tessera 7.0"}, {"Scope", "ensMachine"}});
  EasyDesktopBandHandler1->OnGetBandForm = [this](Component& sender, const ClassInfo*& form_class) {
    EasyDesktopBandHandler1GetBandForm(sender, form_class);
  };
}

void TDataModule1::EasyDesktopBandHandler1GetBandForm(Component&, const ClassInfo*& form_class) {
  form_class = &TVellumDeskBandForm::StaticClass();
}

}  // namespace vellum::band
