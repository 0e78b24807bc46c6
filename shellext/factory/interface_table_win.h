// A class's interface table: the COM interfaces it declares, each answered
// with the object's pointer adjusted to that interface. QueryInterface looks
// a requested IID up here and nowhere else, so an object answers exactly the
// interfaces its class names (and those of its bases' tables).
//
//   void* FindInterface(const IID& iid) override {
//     if (void* found = InterfaceTable<IContextMenu3, IContextMenu2, IContextMenu>::Find(this, iid)) return found;
//     return Base::FindInterface(iid);
//   }
#pragma once

#include <objbase.h>

namespace vellum::shellext {

template <typename... Interfaces>
struct InterfaceTable {
  template <typename Self>
  static void* Find(Self* self, const IID& iid) {
    void* found = nullptr;
    ((found == nullptr && IsEqualIID(iid, __uuidof(Interfaces)) ? (found = static_cast<Interfaces*>(self)) : nullptr),
     ...);
    return found;
  }
};

// The IUnknown methods of a class that adds interfaces to one of the object
// bases: every interface's slots lead to the base's table lookup and counts.
#define VELLUM_COM_UNKNOWN_METHODS()                                             \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override { \
    return QueryDeclaredInterface(iid, object);                                  \
  }                                                                              \
  ULONG STDMETHODCALLTYPE AddRef() override {                                    \
    return static_cast<ULONG>(_AddRef());                                        \
  }                                                                              \
  ULONG STDMETHODCALLTYPE Release() override {                                   \
    return static_cast<ULONG>(_Release());                                       \
  }

}  // namespace vellum::shellext
