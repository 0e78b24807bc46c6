#include "shellext/factory/factory_helper_win.h"

#include "shellext/factory/com_boundary_win.h"

namespace vellum::shellext {

TFactoryHelper::TFactoryHelper(std::unique_ptr<DUduzRegisterableShellComponent> pending_object)
    : pending_object_(std::move(pending_object)) {}

TFactoryHelper::~TFactoryHelper() = default;

void* TFactoryHelper::FindInterface(const IID& iid) {
  // IClassFactory is also the factory's IUnknown.
  if (IsEqualIID(iid, IID_IUnknown)) return static_cast<IClassFactory*>(this);
  return InterfaceTable<IClassFactory>::Find(this, iid);
}

HRESULT STDMETHODCALLTYPE TFactoryHelper::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return E_NOINTERFACE;
  if (!pending_object_) return E_NOINTERFACE;
  const HRESULT result = ComBoundary("TFactoryHelper::CreateInstance", E_UNEXPECTED, [&]() -> HRESULT {
    // Counting is still off inside the factory, so the reference this query
    // takes counts nothing; the object's one count is added below.
    if (FAILED(pending_object_->QueryInterface(iid, object)) || *object == nullptr) return E_NOINTERFACE;
    DUduzRegisterableShellComponent* handed_out = pending_object_.release();
    handed_out->SetRefCounted(true);
    handed_out->_AddRef();
    return S_OK;
  });
  if (FAILED(result)) *object = nullptr;
  return result;
}

HRESULT STDMETHODCALLTYPE TFactoryHelper::LockServer(BOOL lock) {
  return CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, FALSE);
}

}  // namespace vellum::shellext
