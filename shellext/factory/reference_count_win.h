// The one reference count of the framework's COM objects, shared by both
// object bases (the plain one of class factories and the component one):
// counting that can be switched off or handed to a controller, the
// interface lookup that takes a reference, and a place in the module-wide
// live-object count.
#pragma once

#include <objbase.h>

#include "shellext/factory/live_object_count_win.h"

namespace vellum::shellext {

class ReferenceCounted {
 public:
  ReferenceCounted() = default;
  virtual ~ReferenceCounted() = default;
  ReferenceCounted(const ReferenceCounted&) = delete;
  ReferenceCounted& operator=(const ReferenceCounted&) = delete;

  // Off (the default, as for templates on a data module): AddRef and
  // Release do nothing and answer -1.
  virtual void SetRefCounted(bool value) { counted_ = value; }
  // -1 while counting is off; the controller's answer when there is one;
  // else the new count.
  virtual LONG _AddRef();
  // As _AddRef. When the object's own count drops to zero, the object goes
  // (DestroyUnreferenced).
  virtual LONG _Release();

  bool RefCounted() const { return counted_; }
  // While set, AddRef and Release are the controller's: the object lives as
  // long as the object that holds it. Not owned: the controller (a band
  // that holds its context menu) outlives it.
  IUnknown* Controller() const { return controller_; }
  void SetController(IUnknown* controller) { controller_ = controller; }
  LONG RefCount() const { return count_; }

 protected:
  // The class's interface table lookup (InterfaceTable), IID_IUnknown
  // included: the pointer adjusted to the interface, or null.
  virtual void* FindInterface(const IID& iid) = 0;
  // QueryInterface for the derived classes' IUnknown slots.
  HRESULT QueryDeclaredInterface(REFIID iid, void** object);
  // The last reference of the object's own count is gone.
  virtual void DestroyUnreferenced() { delete this; }

 private:
  LiveObjectMark live_;
  bool counted_ = false;
  IUnknown* controller_ = nullptr;
  volatile LONG count_ = 0;
};

}  // namespace vellum::shellext
