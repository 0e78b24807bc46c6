// The registration object every registerable framework component carries: it
// names the component's COM class and says whether and where the class is
// entered in the registry. Streamed inline with its component, so a clone
// made by streaming carries the same class identifier.
#pragma once

#include <functional>
#include <string>

#include "runtime/component/persistent.h"

namespace vellum::shellext {

enum TRereRAVScope { ensUser, ensMachine };

class DUduzBaseRegistration : public Persistent {
  VELLUM_PERSISTENT_CLASS()

 public:
  // Gives the object a new random class identifier, so two components
  // dropped on a data module never share one by accident.
  DUduzBaseRegistration();

  bool RegisterInRegistry() const { return register_in_registry_; }
  void SetRegisterInRegistry(bool value) { register_in_registry_ = value; }
  // Published as "CLSID"; compared as a string by class lookup.
  const std::string& Clsid() const { return clsid_; }
  void SetClsid(const std::string& value) { clsid_ = value; }
  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& value) { description_ = value; }
  TRereRAVScope Scope() const { return scope_; }
  // Fires OnChange when the value differs.
  void SetScope(TRereRAVScope value);

  // Not published: the owning component hears that the scope moved, for the
  // handler kinds whose registry location depends on it.
  std::function<void(DUduzBaseRegistration& sender)> OnChange;

  void Assign(const Persistent* source) override;

 private:
  bool register_in_registry_ = true;
  std::string clsid_;
  std::string description_;
  TRereRAVScope scope_ = ensUser;
};

// The registration that band components create for themselves.
class DUduzBandRegistration : public DUduzBaseRegistration {
  VELLUM_PERSISTENT_CLASS()
};

}  // namespace vellum::shellext
