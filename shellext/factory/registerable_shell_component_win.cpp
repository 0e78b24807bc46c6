#include "shellext/factory/registerable_shell_component_win.h"

#include <windows.h>

#include "runtime/component/class_builder.h"
#include "runtime/win/text_conversion_win.h"

namespace vellum::shellext {

const ClassInfo& DUduzRegisterableShellComponent::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzRegisterableShellComponent>("DUduzRegisterableShellComponent",
                                                    &DUduzInterfacedShellComponent::StaticClass())
          .Object("Registration",
                  [](const DUduzRegisterableShellComponent& c) -> const Persistent& { return c.Registration(); })
          .Build();
  return info;
}

DUduzRegisterableShellComponent::~DUduzRegisterableShellComponent() = default;

DUduzBaseRegistration& DUduzRegisterableShellComponent::Registration() const {
  if (!registration_) registration_ = CreateRegistration();
  return *registration_;
}

std::unique_ptr<DUduzBaseRegistration> DUduzRegisterableShellComponent::CreateRegistration() const {
  return std::make_unique<DUduzBaseRegistration>();
}

std::wstring DUduzRegisterableShellComponent::GetDescription() const {
  return win::WideFromAnsi(Registration().Description());
}

}  // namespace vellum::shellext
