#include "shellext/factory/reference_count_win.h"

namespace vellum::shellext {

LONG ReferenceCounted::_AddRef() {
  if (!counted_) return -1;
  if (controller_ != nullptr) return static_cast<LONG>(controller_->AddRef());
  return InterlockedIncrement(&count_);
}

LONG ReferenceCounted::_Release() {
  if (!counted_) return -1;
  if (controller_ != nullptr) return static_cast<LONG>(controller_->Release());
  const LONG count = InterlockedDecrement(&count_);
  if (count <= 0) DestroyUnreferenced();
  return count;
}

HRESULT ReferenceCounted::QueryDeclaredInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = FindInterface(iid);
  if (*object == nullptr) return E_NOINTERFACE;
  _AddRef();
  return S_OK;
}

}  // namespace vellum::shellext
