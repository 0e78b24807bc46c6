// Components that are COM classes of the server: each carries the
// registration that names its class identifier, and writes or removes its
// own registry entries when the server is registered or unregistered.
#pragma once

#include <memory>
#include <string>

#include "shellext/factory/shell_component_win.h"
#include "shellext/registration/registration_win.h"

namespace vellum::shellext {

class DUduzRegisterableShellComponent : public DUduzInterfacedShellComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzRegisterableShellComponent() = default;
  ~DUduzRegisterableShellComponent() override;

  // Made by CreateRegistration on first use: a constructor cannot reach the
  // derived class's choice, so a band's constructor that sets a default
  // description is the first to ask.
  DUduzBaseRegistration& Registration() const;

  // The registration class of this kind of component.
  virtual std::unique_ptr<DUduzBaseRegistration> CreateRegistration() const;
  // The registration's Description, converted from the ANSI code page.
  virtual std::wstring GetDescription() const;
  // The component's registry entries. Kinds this server does not register
  // write and remove nothing.
  virtual void RegisterServer() {}
  virtual void UnregisterServer() {}

 private:
  mutable std::unique_ptr<DUduzBaseRegistration> registration_;
};

}  // namespace vellum::shellext
