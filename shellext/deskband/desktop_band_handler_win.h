// The component a server designer puts on the data module to get a taskbar
// desk band: a desk band object with a context menu. The shell's queries for
// the context-menu interfaces are answered by a context menu handler that the
// band creates on first need or that the designer assigns; the handler counts
// its references on the band object.
#pragma once

#include "shellext/bandobject/shell_band_component_win.h"
#include "shellext/contextmenu/context_menu_handler_win.h"

namespace vellum::shellext {

class DUduzDesktopBandHandler : public DUduzDesktopBandComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzDesktopBandHandler() = default;
  ~DUduzDesktopBandHandler() override;

  // Creates an owned handler when none is installed.
  DUduzContextMenuHandler* GetContextMenu();
  // Frees an owned handler, installs `handler` (not owned) and makes the band
  // its reference-counting controller.
  void SetContextMenu(DUduzContextMenuHandler* handler);
  bool OwnsContextMenu() const { return owns_context_menu_; }
  DUduzContextMenuHandler* InstalledContextMenu() const { return context_menu_; }

 protected:
  void* FindInterface(const IID& iid) override;
  void Notification(Component& component, Operation operation) override;

 private:
  DUduzContextMenuHandler* context_menu_ = nullptr;
  std::unique_ptr<DUduzContextMenuHandler> owned_context_menu_;
  bool owns_context_menu_ = false;
};

}  // namespace vellum::shellext
