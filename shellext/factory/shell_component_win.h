// The bases of every framework component: components of the component model
// (published properties, streamed and cloned by class name) that are COM
// objects at the same time, with switchable reference counting and a place in
// the module-wide live-object count.
#pragma once

#include <objbase.h>

#include <functional>

#include "runtime/component/component.h"
#include "shellext/factory/interface_table_win.h"
#include "shellext/factory/reference_count_win.h"

namespace vellum::shellext {

// A step run after a clone got its template's properties and handlers; the
// arguments are the template and the copy.
using CloneCopyStep = std::function<void(const Component& from, Component& to)>;

class DUduzInterfacedShellComponent : public Component, public IUnknown, public ReferenceCounted {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzInterfacedShellComponent() = default;
  ~DUduzInterfacedShellComponent() override = default;

  VELLUM_COM_UNKNOWN_METHODS()

  // The component's own IUnknown (its identity for COM).
  IUnknown* Unknown() { return static_cast<IUnknown*>(this); }

  // What cloning must do beyond streaming and copying the component's own
  // event handlers; none by default.
  virtual CloneCopyStep CopyStep() const { return {}; }

 protected:
  // The class's interface table (InterfaceTable), ending in the base's
  // lookup: the pointer adjusted to the interface, or null.
  void* FindInterface(const IID& iid) override;
  // An owned component is taken back from its owner, which would otherwise
  // free it a second time.
  void DestroyUnreferenced() override;
};

class DUduzNonRegisterableShellComponent;
using TAssignShellComponent = std::function<void(DUduzNonRegisterableShellComponent& sender)>;

// Components that take part in a server without a class of their own.
class DUduzNonRegisterableShellComponent : public DUduzInterfacedShellComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  TAssignShellComponent OnAssign;

  void DoAssign();
};

}  // namespace vellum::shellext
