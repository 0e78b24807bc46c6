#include "shellext/registration/registration_win.h"

#include "runtime/component/class_builder.h"
#include "shellext/registration/registry_guid_win.h"

namespace vellum::shellext {

const ClassInfo& DUduzBaseRegistration::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzBaseRegistration>("DUduzBaseRegistration", &Persistent::StaticClass())
          .Property("RegisterInRegistry", &DUduzBaseRegistration::RegisterInRegistry,
                    &DUduzBaseRegistration::SetRegisterInRegistry)
          .Property("CLSID", &DUduzBaseRegistration::Clsid, &DUduzBaseRegistration::SetClsid)
          .Property("Description", &DUduzBaseRegistration::Description, &DUduzBaseRegistration::SetDescription)
          .Enumeration("Scope", &DUduzBaseRegistration::Scope, &DUduzBaseRegistration::SetScope,
                       {"ensUser", "ensMachine"})
          .Build();
  return info;
}

DUduzBaseRegistration::DUduzBaseRegistration() : clsid_(NewRegistryGuid()) {}

void DUduzBaseRegistration::SetScope(TRereRAVScope value) {
  if (value == scope_) return;
  scope_ = value;
  if (OnChange) OnChange(*this);
}

void DUduzBaseRegistration::Assign(const Persistent* source) {
  const auto* other = dynamic_cast<const DUduzBaseRegistration*>(source);
  if (other == nullptr) {
    Persistent::Assign(source);
    return;
  }
  register_in_registry_ = other->register_in_registry_;
  clsid_ = other->clsid_;
  description_ = other->description_;
  SetScope(other->scope_);
}

const ClassInfo& DUduzBandRegistration::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzBandRegistration>("DUduzBandRegistration", &DUduzBaseRegistration::StaticClass()).Build();
  return info;
}

}  // namespace vellum::shellext
