#include "shellext/factory/shell_component_win.h"

#include "runtime/component/class_builder.h"

namespace vellum::shellext {

const ClassInfo& DUduzInterfacedShellComponent::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzInterfacedShellComponent>("DUduzInterfacedShellComponent", &Component::StaticClass()).Build();
  return info;
}

LONG DUduzInterfacedShellComponent::_Release() {
  bool last = false;
  const LONG count = references_.Release(last);
  if (!last) return count;
  // An owner holds its components for freeing; take this one back from it
  // first, or the owner would free it a second time.
  if (Owner() != nullptr) {
    Owner()->RemoveComponent(*this).reset();
  } else {
    delete this;
  }
  return count;
}

void* DUduzInterfacedShellComponent::FindInterface(const IID& iid) {
  if (IsEqualIID(iid, IID_IUnknown)) return Unknown();
  return nullptr;
}

HRESULT DUduzInterfacedShellComponent::QueryDeclaredInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = FindInterface(iid);
  if (*object == nullptr) return E_NOINTERFACE;
  _AddRef();
  return S_OK;
}

const ClassInfo& DUduzNonRegisterableShellComponent::StaticClass() {
  static const ClassInfo info = ClassBuilder<DUduzNonRegisterableShellComponent>(
                                    "DUduzNonRegisterableShellComponent", &DUduzInterfacedShellComponent::StaticClass())
                                    .Event("OnAssign", &DUduzNonRegisterableShellComponent::OnAssign)
                                    .Build();
  return info;
}

void DUduzNonRegisterableShellComponent::DoAssign() {
  if (OnAssign) OnAssign(*this);
}

}  // namespace vellum::shellext
