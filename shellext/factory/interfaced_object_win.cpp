#include "shellext/factory/interfaced_object_win.h"

namespace vellum::shellext {

LONG DUduzInterfacedObject::_Release() {
  bool last = false;
  const LONG count = references_.Release(last);
  if (last) delete this;
  return count;
}

HRESULT DUduzInterfacedObject::QueryDeclaredInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = FindInterface(iid);
  if (*object == nullptr) return E_NOINTERFACE;
  _AddRef();
  return S_OK;
}

}  // namespace vellum::shellext
