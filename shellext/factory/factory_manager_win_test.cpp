#include "shellext/factory/factory_manager_win.h"

#include <gtest/gtest.h>
#include <oleidl.h>

#include <memory>
#include <string>
#include <vector>

#include "shellext/factory/factory_helper_win.h"
#include "shellext/factory/factory_test_support_win.h"
#include "shellext/factory/live_object_count_win.h"

namespace vellum::shellext {
namespace {

using testing::OleApartment;
using testing::TTestServer;

// {6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D} and {6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7E}
constexpr CLSID kServerClsid = {0x6A8B8C3E, 0x0D2F, 0x4A5B, {0x9C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B, 0x6C, 0x7D}};
constexpr CLSID kOtherClsid = {0x6A8B8C3E, 0x0D2F, 0x4A5B, {0x9C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B, 0x6C, 0x7E}};
constexpr char kServerClsidText[] = "{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D}";

TFactoryHelper& Helper(const win::ComPtr<IClassFactory>& factory) {
  return static_cast<TFactoryHelper&>(*factory.get());
}

// A data module built in code as the server module builds it: the factory
// manager first, then the templates, all handed to the manager's list.
class FactoryManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterComponentClass(TTestServer::StaticClass());
    data_module_.SetName("DataModule1");
    manager_ = &data_module_.CreateOwned<DUduzFactoryManager>();
    manager_->SetName("EasyFactoryManager1");
    auto& plain = data_module_.CreateOwned<DUduzNonRegisterableShellComponent>();
    plain.SetName("EasyHelper1");
    server_ = &data_module_.CreateOwned<TTestServer>();
    server_->SetName("EasyTestServer1");
    server_->SetCaption("Vellum Tessera 7");
    server_->Registration().SetClsid(kServerClsidText);
    server_->Registration().SetDescription("Vellum Tessera 7.0");
    server_->Registration().SetScope(ensMachine);
    server_->OnPing = [this](TTestServer& sender) { pinged_.push_back(&sender); };
    other_ = &data_module_.CreateOwned<TTestServer>();
    other_->SetName("EasyTestServer2");
    other_->Registration().SetClsid("{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7E}");
    for (Component* component :
         {static_cast<Component*>(&plain), static_cast<Component*>(server_), static_cast<Component*>(other_)}) {
      manager_->AddToComponentList(*component);
    }
  }
  void TearDown() override { UnregisterComponentClass(TTestServer::StaticClass()); }

  OleApartment apartment_;
  Component data_module_;
  DUduzFactoryManager* manager_ = nullptr;
  TTestServer* server_ = nullptr;
  TTestServer* other_ = nullptr;
  std::vector<TTestServer*> pinged_;
};

TEST_F(FactoryManagerTest, FindsTheTemplateByItsExactClassIdentifierAndHandsOutACopy) {
  const win::ComPtr<IClassFactory> factory = manager_->GetClassObject(kServerClsid);
  ASSERT_TRUE(factory);
  auto* copy = dynamic_cast<TTestServer*>(Helper(factory).PendingObject());
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, server_);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->Caption(), "Vellum Tessera 7");
  EXPECT_EQ(copy->Registration().Clsid(), kServerClsidText);
  EXPECT_EQ(copy->Registration().Description(), "Vellum Tessera 7.0");
  EXPECT_EQ(copy->Registration().Scope(), ensMachine);
  EXPECT_FALSE(copy->RefCounted()) << "a copy inside the factory is not counted yet";
  EXPECT_EQ(Helper(factory).RefCount(), 1) << "the caller's pointer holds the factory's only count";

  ASSERT_TRUE(copy->OnPing) << "the copy fires the template's handlers";
  copy->OnPing(*copy);
  EXPECT_EQ(pinged_, std::vector<TTestServer*>{copy});

  const win::ComPtr<IClassFactory> other = manager_->GetClassObject(kOtherClsid);
  ASSERT_TRUE(other);
  EXPECT_EQ(Helper(other).PendingObject()->Name(), "EasyTestServer2");

  EXPECT_FALSE(manager_->GetClassObject(IID_IClassFactory)) << "no template carries it";
  server_->Registration().SetClsid("{6a8b8c3e-0d2f-4a5b-9c1d-2e3f4a5b6c7d}");
  EXPECT_FALSE(manager_->GetClassObject(kServerClsid)) << "the string comparison heeds letter case";
}

TEST_F(FactoryManagerTest, EveryRequestMakesANewFactoryWithItsOwnCopy) {
  const win::ComPtr<IClassFactory> first = manager_->GetClassObject(kServerClsid);
  const win::ComPtr<IClassFactory> second = manager_->GetClassObject(kServerClsid);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_NE(first.get(), second.get());
  ASSERT_NE(Helper(first).PendingObject(), nullptr);
  EXPECT_NE(Helper(first).PendingObject(), Helper(second).PendingObject());
}

TEST_F(FactoryManagerTest, CreateInstanceHandsOutTheCopyOnceAndOnlyForADeclaredInterface) {
  const win::ComPtr<IClassFactory> factory = manager_->GetClassObject(kServerClsid);
  DUduzRegisterableShellComponent* pending = Helper(factory).PendingObject();

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IPersist, &object), E_NOINTERFACE) << "no aggregation";
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Helper(factory).PendingObject(), pending);

  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleWindow, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Helper(factory).PendingObject(), pending) << "kept for a query that can succeed";

  win::ComPtr<IPersist> persist;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersist, persist.ReceiveVoid()), S_OK);
  EXPECT_EQ(Helper(factory).PendingObject(), nullptr);
  EXPECT_EQ(static_cast<void*>(persist.get()),
            static_cast<void*>(static_cast<IPersist*>(static_cast<TTestServer*>(pending))));
  EXPECT_TRUE(pending->RefCounted());
  EXPECT_EQ(pending->RefCount(), 1) << "the caller's pointer holds the only count";
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kServerClsid));

  win::ComPtr<IPersist> again;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, again.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_FALSE(again);
}

TEST_F(FactoryManagerTest, LiveObjectCountFollowsFactoriesAndObjects) {
  const LONG base = LiveObjectCount();
  const int instances = TTestServer::instances;

  win::ComPtr<IClassFactory> unused = manager_->GetClassObject(kServerClsid);
  EXPECT_EQ(LiveObjectCount(), base + 2) << "the factory and its copy";
  unused.Reset();
  EXPECT_EQ(LiveObjectCount(), base) << "a factory frees a copy it never handed out";
  EXPECT_EQ(TTestServer::instances, instances);

  win::ComPtr<IClassFactory> factory = manager_->GetClassObject(kServerClsid);
  win::ComPtr<IPersist> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersist, object.ReceiveVoid()), S_OK);
  factory.Reset();
  EXPECT_EQ(LiveObjectCount(), base + 1) << "the handed-out object outlives its factory";
  CLSID clsid{};
  EXPECT_EQ(object->GetClassID(&clsid), S_OK);
  object.Reset();
  EXPECT_EQ(LiveObjectCount(), base);
  EXPECT_EQ(TTestServer::instances, instances);
}

TEST_F(FactoryManagerTest, ALockedServerKeepsItsFactoryAlive) {
  const LONG base = LiveObjectCount();
  win::ComPtr<IClassFactory> factory = manager_->GetClassObject(kServerClsid);
  IClassFactory* locked = factory.get();
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(LiveObjectCount(), base + 2) << "COM's lock holds the factory";
  ASSERT_EQ(locked->LockServer(FALSE), S_OK);  // gives the last reference back
  EXPECT_EQ(LiveObjectCount(), base);
}

TEST_F(FactoryManagerTest, RegistersAndUnregistersEveryServerInListOrderThenFiresTheEvent) {
  std::vector<std::string> log;
  server_->registration_log = &log;
  other_->registration_log = &log;
  manager_->OnRegisterServer = [&](Component& sender) { log.push_back("registered " + sender.Name()); };
  manager_->OnUnRegisterServer = [&](Component& sender) { log.push_back("unregistered " + sender.Name()); };
  manager_->RegisterAllServers();
  manager_->UnregisterAllServers();
  EXPECT_EQ(log, (std::vector<std::string>{"register EasyTestServer1", "register EasyTestServer2",
                                           "registered EasyFactoryManager1", "unregister EasyTestServer1",
                                           "unregister EasyTestServer2", "unregistered EasyFactoryManager1"}));

  log.clear();
  server_->fail_registration = true;
  EXPECT_THROW(manager_->RegisterAllServers(), EComponentError);
  EXPECT_THROW(manager_->UnregisterAllServers(), EComponentError);
  EXPECT_EQ(log, (std::vector<std::string>{"register EasyTestServer1", "unregister EasyTestServer1"}))
      << "an exception stops the walk before the rest and the event";
}

TEST_F(FactoryManagerTest, CloningErrorsPropagateAndFreedTemplatesLeaveTheList) {
  UnregisterComponentClass(TTestServer::StaticClass());
  EXPECT_THROW(manager_->GetClassObject(kServerClsid), EClassNotFound);
  RegisterComponentClass(TTestServer::StaticClass());

  data_module_.DestroyComponent(*server_);
  EXPECT_EQ(manager_->ComponentList().size(), 2u);
  EXPECT_FALSE(manager_->GetClassObject(kServerClsid));
  EXPECT_TRUE(manager_->GetClassObject(kOtherClsid));
}

}  // namespace
}  // namespace vellum::shellext
