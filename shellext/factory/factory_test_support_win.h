// Test servers for the factory tests: a registerable component with one COM
// interface of its own (IPersist), published properties and an event, and a
// count of live instances.
#pragma once

#include <objbase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/component/class_builder.h"
#include "runtime/component/class_info.h"
#include "runtime/win/com_ptr_win.h"
#include "shellext/factory/registerable_shell_component_win.h"

namespace vellum::shellext::testing {

class TTestServer : public DUduzRegisterableShellComponent, public IPersist {
  VELLUM_PERSISTENT_CLASS()

 public:
  TTestServer() { ++instances; }
  ~TTestServer() override { --instances; }

  VELLUM_COM_UNKNOWN_METHODS()

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    std::wstring text(Registration().Clsid().begin(), Registration().Clsid().end());
    return CLSIDFromString(text.c_str(), clsid);
  }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }

  std::function<void(TTestServer& sender)> OnPing;

  // Registration writes nothing for this kind; the tests watch the walk.
  void RegisterServer() override { Log("register"); }
  void UnregisterServer() override { Log("unregister"); }
  std::vector<std::string>* registration_log = nullptr;
  bool fail_registration = false;

  static inline int instances = 0;

 protected:
  void* FindInterface(const IID& iid) override {
    if (void* found = InterfaceTable<IPersist>::Find(this, iid)) return found;
    return DUduzRegisterableShellComponent::FindInterface(iid);
  }

 private:
  void Log(const std::string& what) {
    if (registration_log != nullptr) registration_log->push_back(what + " " + Name());
    if (fail_registration) throw EComponentError("cannot register " + Name());
  }

  std::string caption_;
};

inline const ClassInfo& TTestServer::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TTestServer>("TTestServer", &DUduzRegisterableShellComponent::StaticClass())
          .Property("Caption", &TTestServer::Caption, &TTestServer::SetCaption)
          .Event("OnPing", &TTestServer::OnPing)
          .Build();
  return info;
}

// A new object whose count is switched on and held by the answer.
template <typename Interface, typename T, typename... Args>
win::ComPtr<Interface> MakeCounted(Args&&... args) {
  auto object = std::make_unique<T>(std::forward<Args>(args)...);
  object->SetRefCounted(true);
  object->_AddRef();
  return win::ComPtr<Interface>::Attach(object.release());
}

// COM for the test's thread, as the shell's thread has it.
class OleApartment {
 public:
  OleApartment() { OleInitialize(nullptr); }
  ~OleApartment() { OleUninitialize(); }
  OleApartment(const OleApartment&) = delete;
  OleApartment& operator=(const OleApartment&) = delete;
};

}  // namespace vellum::shellext::testing
