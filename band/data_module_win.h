// The data module that declares the server: the factory manager and the desk
// band template whose copies the shell gets.
#pragma once

#include "runtime/component/component.h"
#include "shellext/deskband/desktop_band_handler_win.h"
#include "shellext/factory/factory_manager_win.h"

namespace vellum::band {

class TDataModule1 : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  TDataModule1();

  shellext::DUduzFactoryManager* EasyFactoryManager1 = nullptr;
  shellext::DUduzDesktopBandHandler* EasyDesktopBandHandler1 = nullptr;

  // The one place where the framework learns which form goes into the band.
  void EasyDesktopBandHandler1GetBandForm(Component& sender, const ClassInfo*& form_class);
};

}  // namespace vellum::band
