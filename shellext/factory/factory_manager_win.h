// The component that turns a server's templates into COM class objects: it
// holds the template components of the data module, finds the one whose
// registration carries a requested class identifier, and registers or
// unregisters all of them.
#pragma once

#include <objbase.h>

#include <functional>
#include <vector>

#include "runtime/win/com_ptr_win.h"
#include "shellext/factory/registerable_shell_component_win.h"
#include "shellext/factory/shell_component_win.h"

namespace vellum::shellext {

using TRegisterServerEvent = std::function<void(Component& sender)>;

class DUduzFactoryManager : public DUduzInterfacedShellComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  // The templates, in the order the server module handed them over; not
  // owned. A template that is destroyed leaves the list.
  const std::vector<Component*>& ComponentList() const { return component_list_; }
  void AddToComponentList(Component& component);
  void RemoveFromComponentList(Component& component);

  // A new class object holding a new copy of the template whose
  // Registration.CLSID is exactly (case included) the registry form of
  // `clsid`; empty when no template carries it. Cloning errors propagate.
  win::ComPtr<IClassFactory> GetClassObject(const CLSID& clsid) const;

  // Each registerable template in list order, then the event. An exception
  // stops the walk and propagates.
  void RegisterAllServers();
  void UnregisterAllServers();

  TRegisterServerEvent OnRegisterServer;
  TRegisterServerEvent OnUnRegisterServer;

 protected:
  void Notification(Component& component, Operation operation) override;

 private:
  std::vector<Component*> component_list_;
};

}  // namespace vellum::shellext
