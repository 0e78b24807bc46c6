#include "shellext/factory/shell_component_win.h"

#include "runtime/component/class_builder.h"

namespace vellum::shellext {

const ClassInfo& DUduzInterfacedShellComponent::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzInterfacedShellComponent>("DUduzInterfacedShellComponent", &Component::StaticClass()).Build();
  return info;
}

void DUduzInterfacedShellComponent::DestroyUnreferenced() {
  if (Owner() != nullptr) {
    Owner()->RemoveComponent(*this).reset();
  } else {
    delete this;
  }
}

void* DUduzInterfacedShellComponent::FindInterface(const IID& iid) {
  if (IsEqualIID(iid, IID_IUnknown)) return Unknown();
  return nullptr;
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
