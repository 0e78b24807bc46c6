// The class object handed to COM for one request: it holds one fresh copy of
// a template and gives it out, once, on CreateInstance.
#pragma once

#include <objbase.h>

#include <memory>

#include "shellext/factory/interface_table_win.h"
#include "shellext/factory/interfaced_object_win.h"
#include "shellext/factory/registerable_shell_component_win.h"

namespace vellum::shellext {

class TFactoryHelper : public DUduzInterfacedObject, public IClassFactory {
 public:
  explicit TFactoryHelper(std::unique_ptr<DUduzRegisterableShellComponent> pending_object);
  // Frees the pending object if it was never handed out.
  ~TFactoryHelper() override;

  VELLUM_COM_UNKNOWN_METHODS()

  // Aggregation is not supported; an interface the object lacks leaves the
  // object in the factory for a second try.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  // Null once CreateInstance handed the object out.
  DUduzRegisterableShellComponent* PendingObject() const { return pending_object_.get(); }

 protected:
  void* FindInterface(const IID& iid) override;

 private:
  std::unique_ptr<DUduzRegisterableShellComponent> pending_object_;
};

}  // namespace vellum::shellext
