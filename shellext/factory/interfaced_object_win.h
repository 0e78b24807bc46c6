// The base of the framework's plain COM objects (class factories): reference
// counting that can be switched off or handed to a controller, and a place
// in the module-wide live-object count.
#pragma once

#include <objbase.h>

#include "shellext/factory/live_object_count_win.h"
#include "shellext/factory/reference_count_win.h"

namespace vellum::shellext {

class DUduzInterfacedObject {
 public:
  DUduzInterfacedObject() = default;
  virtual ~DUduzInterfacedObject() = default;
  DUduzInterfacedObject(const DUduzInterfacedObject&) = delete;
  DUduzInterfacedObject& operator=(const DUduzInterfacedObject&) = delete;

  // Off (the default): AddRef and Release do nothing and answer -1.
  virtual void SetRefCounted(bool value) { references_.SetCounted(value); }
  virtual LONG _AddRef() { return references_.AddRef(); }
  // Destroys the object when its own count drops to zero.
  virtual LONG _Release();

  bool RefCounted() const { return references_.Counted(); }
  IUnknown* Controller() const { return references_.Controller(); }
  void SetController(IUnknown* controller) { references_.SetController(controller); }
  LONG RefCount() const { return references_.Count(); }

 protected:
  // The class's interface table lookup (InterfaceTable), IID_IUnknown
  // included: the pointer adjusted to the interface, or null.
  virtual void* FindInterface(const IID& iid) = 0;
  // QueryInterface for the derived classes' IUnknown slots.
  HRESULT QueryDeclaredInterface(REFIID iid, void** object);

 private:
  LiveObjectMark live_;
  ReferenceCount references_;
};

}  // namespace vellum::shellext
