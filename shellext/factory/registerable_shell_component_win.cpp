#include "shellext/factory/registerable_shell_component_win.h"

#include <windows.h>

#include "runtime/component/class_builder.h"

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
  const std::string& description = Registration().Description();
  if (description.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, description.data(), static_cast<int>(description.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, description.data(), static_cast<int>(description.size()), wide.data(), length);
  return wide;
}

}  // namespace vellum::shellext
