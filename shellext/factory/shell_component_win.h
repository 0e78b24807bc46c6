// The bases of every framework component: components of the component model
// (published properties, streamed and cloned by class name) that are COM
// objects at the same time, with switchable reference counting and a place in
// the module-wide live-object count.
#pragma once

#include <objbase.h>

#include <functional>

#include "runtime/component/component.h"
#include "shellext/factory/interface_table_win.h"
#include "shellext/factory/live_object_count_win.h"
#include "shellext/factory/reference_count_win.h"

namespace vellum::shellext {

// A step run after a clone got its template's properties and handlers; the
// arguments are the template and the copy.
using CloneCopyStep = std::function<void(const Component& from, Component& to)>;

class DUduzInterfacedShellComponent : public Component, public IUnknown {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzInterfacedShellComponent() = default;
  ~DUduzInterfacedShellComponent() override = default;

  VELLUM_COM_UNKNOWN_METHODS()

  // Off (the default, as for templates on a data module): AddRef and Release
  // do nothing and answer -1.
  virtual void SetRefCounted(bool value) { references_.SetCounted(value); }
  virtual LONG _AddRef() { return references_.AddRef(); }
  // Destroys the component when its own count drops to zero.
  virtual LONG _Release();

  bool RefCounted() const { return references_.Counted(); }
  // While set, AddRef and Release are the controller's: the component lives
  // as long as the object that holds it.
  IUnknown* Controller() const { return references_.Controller(); }
  void SetController(IUnknown* controller) { references_.SetController(controller); }
  LONG RefCount() const { return references_.Count(); }

  // The component's own IUnknown (its identity for COM).
  IUnknown* Unknown() { return static_cast<IUnknown*>(this); }

  // What cloning must do beyond streaming and copying the component's own
  // event handlers; none by default.
  virtual CloneCopyStep CopyStep() const { return {}; }

 protected:
  // The class's interface table (InterfaceTable), ending in the base's
  // lookup: the pointer adjusted to the interface, or null.
  virtual void* FindInterface(const IID& iid);
  HRESULT QueryDeclaredInterface(REFIID iid, void** object);

 private:
  LiveObjectMark live_;
  ReferenceCount references_;
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
