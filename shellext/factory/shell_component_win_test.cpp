#include "shellext/factory/shell_component_win.h"

#include <gtest/gtest.h>
#include <shobjidl.h>

#include "runtime/win/com_ptr_win.h"
#include "shellext/factory/factory_test_support_win.h"
#include "shellext/factory/interfaced_object_win.h"
#include "shellext/factory/live_object_count_win.h"
#include "shellext/registration/registry_guid_win.h"

namespace vellum::shellext {
namespace {

using testing::MakeCounted;
using testing::TTestServer;

// A plain COM object with two interfaces, IPersist being its IUnknown.
class TTwoFaced : public DUduzInterfacedObject, public IPersist, public IOleWindow {
 public:
  explicit TTwoFaced(bool* destroyed) : destroyed_(destroyed) {}
  ~TTwoFaced() override { *destroyed_ = true; }
  VELLUM_COM_UNKNOWN_METHODS()
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 protected:
  void* FindInterface(const IID& iid) override {
    if (IsEqualIID(iid, IID_IUnknown)) return static_cast<IPersist*>(this);
    return InterfaceTable<IPersist, IOleWindow>::Find(this, iid);
  }

 private:
  bool* destroyed_;
};

TEST(ObjectBases, CountingOffAnswersMinusOneAndNeverFrees) {
  bool destroyed = false;
  auto object = std::make_unique<TTwoFaced>(&destroyed);
  EXPECT_EQ(object->_AddRef(), -1);
  EXPECT_EQ(static_cast<LONG>(object->Release()), -1);
  EXPECT_EQ(static_cast<LONG>(object->Release()), -1);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->RefCount(), 0);

  TTestServer component;
  EXPECT_EQ(component._AddRef(), -1);
  EXPECT_EQ(static_cast<LONG>(component.Unknown()->Release()), -1);
}

TEST(ObjectBases, CountedObjectsAreFreedByTheirLastRelease) {
  bool destroyed = false;
  IPersist* object = MakeCounted<IPersist, TTwoFaced>(&destroyed).Detach();
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_TRUE(destroyed);

  // A counted component that an owner holds leaves the owner when freed.
  Component owner;
  auto& owned = owner.CreateOwned<TTestServer>();
  owned.SetRefCounted(true);
  const int before = TTestServer::instances;
  owned._AddRef();
  owned._Release();
  EXPECT_EQ(TTestServer::instances, before - 1);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(ObjectBases, ControllerTakesTheCountsOfTheComponentsItHolds) {
  bool destroyed = false;
  win::ComPtr<IPersist> controller_ref = MakeCounted<IPersist, TTwoFaced>(&destroyed);

  TTestServer held;
  held.SetRefCounted(true);
  held.SetController(controller_ref.get());
  EXPECT_EQ(held._AddRef(), 2) << "the controller's count answers";
  EXPECT_EQ(held.RefCount(), 0) << "the component's own count is untouched";
  EXPECT_EQ(held._Release(), 1);
  controller_ref.Reset();
  EXPECT_TRUE(destroyed);
}

TEST(ObjectBases, QueryInterfaceAnswersExactlyTheDeclaredInterfaces) {
  bool destroyed = false;
  win::ComPtr<IPersist> persist = MakeCounted<IPersist, TTwoFaced>(&destroyed);
  auto* object = static_cast<TTwoFaced*>(persist.get());

  win::ComPtr<IOleWindow> window = persist.As<IOleWindow>(IID_IOleWindow);
  ASSERT_TRUE(window);
  EXPECT_EQ(static_cast<void*>(window.get()), static_cast<void*>(static_cast<IOleWindow*>(object)));
  win::ComPtr<IUnknown> identity_a = persist.As<IUnknown>(IID_IUnknown);
  win::ComPtr<IUnknown> identity_b = window.As<IUnknown>(IID_IUnknown);
  EXPECT_EQ(identity_a.get(), identity_b.get()) << "one identity whatever interface is asked";
  EXPECT_EQ(static_cast<void*>(identity_a.get()), static_cast<void*>(persist.get()));
  EXPECT_EQ(object->RefCount(), 4);

  void* nothing = reinterpret_cast<void*>(1);
  EXPECT_EQ(persist->QueryInterface(IID_IClassFactory, &nothing), E_NOINTERFACE);
  EXPECT_EQ(nothing, nullptr);
  EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);
  EXPECT_EQ(object->RefCount(), 4) << "a failed query takes no reference";

  TTestServer component;
  EXPECT_TRUE(win::ComPtr<IUnknown>::Share(component.Unknown()).As<IPersist>(IID_IPersist));
  EXPECT_FALSE(win::ComPtr<IUnknown>::Share(component.Unknown()).As<IOleWindow>(IID_IOleWindow));
  EXPECT_EQ(win::ComPtr<IUnknown>::Share(static_cast<IPersist*>(&component)).As<IUnknown>(IID_IUnknown).get(),
            component.Unknown());
}

TEST(ObjectBases, LiveObjectCountFollowsEveryObjectAndComponent) {
  const LONG base = LiveObjectCount();
  {
    bool destroyed = false;
    TTwoFaced object(&destroyed);
    EXPECT_EQ(LiveObjectCount(), base + 1);
    Component data_module;  // not a framework component: not counted
    data_module.CreateOwned<TTestServer>();
    data_module.CreateOwned<DUduzNonRegisterableShellComponent>();
    EXPECT_EQ(LiveObjectCount(), base + 3);
  }
  EXPECT_EQ(LiveObjectCount(), base);

  struct FailingServer : TTestServer {
    FailingServer() { throw EComponentError("designer code failed"); }
  };
  EXPECT_THROW(FailingServer(), EComponentError);
  EXPECT_EQ(LiveObjectCount(), base) << "a constructor that raises leaves the count as it was";
}

TEST(ShellComponents, RegistrationAndAssignEvent) {
  TTestServer server;
  EXPECT_TRUE(IsRegistryGuid(server.Registration().Clsid())) << server.Registration().Clsid();
  EXPECT_EQ(&server.Registration(), &server.Registration()) << "made once";
  server.Registration().SetDescription(
      "Vellum Tessera \xC4"
      "7");
  EXPECT_EQ(server.GetDescription(), L"Vellum Tessera \u00C47") << "ANSI (code page 1252 under Wine) to wide";

  DUduzNonRegisterableShellComponent plain;
  DUduzNonRegisterableShellComponent* sender = nullptr;
  plain.DoAssign();
  plain.OnAssign = [&](DUduzNonRegisterableShellComponent& s) { sender = &s; };
  plain.DoAssign();
  EXPECT_EQ(sender, &plain);
}

}  // namespace
}  // namespace vellum::shellext
