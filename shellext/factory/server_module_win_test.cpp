// The whole road of a template in one place: a data module built in code
// holds a factory manager and a desk band template; the band is found by its
// class identifier, cloned, handed out, and registered and unregistered in
// Wine's registry.
#include <gtest/gtest.h>

#include <string>

#include "runtime/component/class_builder.h"
#include "runtime/component/class_info.h"
#include "shellext/factory/factory_helper_win.h"
#include "shellext/factory/factory_manager_win.h"
#include "shellext/factory/factory_test_support_win.h"
#include "shellext/registration/desk_band_registration_win.h"
#include "shellext/registration/registry_dump_win.h"

namespace vellum::shellext {
namespace {

using testing::Dump;
using testing::KeyExists;
using testing::OleApartment;
using testing::RegistryDump;
using testing::Sz;

// Registers the way the desk band component does.
class TTestDeskBand : public DUduzRegisterableShellComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  TTestDeskBand() { Registration().SetDescription("RereRAV Band Extension"); }

  const std::string& MenuText() const { return menu_text_; }
  void SetMenuText(const std::string& value) { menu_text_ = value; }

  std::unique_ptr<DUduzBaseRegistration> CreateRegistration() const override {
    return std::make_unique<DUduzBandRegistration>();
  }
  void RegisterServer() override { RegisterDeskBand(Registration(), MenuText()); }
  void UnregisterServer() override { UnregisterDeskBand(Registration()); }

 private:
  std::string menu_text_ = "RereRAV Band Menu Item";
};

const ClassInfo& TTestDeskBand::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TTestDeskBand>("TTestDeskBand", &DUduzRegisterableShellComponent::StaticClass())
          .Property("MenuText", &TTestDeskBand::MenuText, &TTestDeskBand::SetMenuText)
          .Build();
  return info;
}

CLSID ClassIdOf(const DUduzBaseRegistration& registration) {
  const std::wstring text(registration.Clsid().begin(), registration.Clsid().end());
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(text.c_str(), &clsid), S_OK);
  return clsid;
}

TEST(ServerModule, TemplateIsFoundClonedHandedOutRegisteredAndUnregistered) {
  OleApartment apartment;
  RegisterComponentClass(TTestDeskBand::StaticClass());
  Component data_module;
  data_module.SetName("DataModule1");
  auto& manager = data_module.CreateOwned<DUduzFactoryManager>();
  manager.SetName("EasyFactoryManager1");
  auto& band = data_module.CreateOwned<TTestDeskBand>();
  band.SetName("EasyDesktopBandHandler1");
  EXPECT_EQ(band.Registration().Description(), "RereRAV Band Extension");
  band.Registration().SetDescription("Vellum Tessera 7.0");
  band.Registration().SetScope(ensMachine);
  band.SetMenuText("Vellum Tessera 7");
  manager.AddToComponentList(band);
  const std::string class_key = "CLSID\\" + band.Registration().Clsid();
  struct Cleanup {
    const DUduzBaseRegistration& registration;
    ~Cleanup() { UnregisterDeskBand(registration); }
  } cleanup{band.Registration()};

  {
    win::ComPtr<IClassFactory> factory = manager.GetClassObject(ClassIdOf(band.Registration()));
    ASSERT_TRUE(factory);
    win::ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid()), S_OK);
    auto* copy = dynamic_cast<TTestDeskBand*>(static_cast<DUduzInterfacedShellComponent*>(object.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &band);
    EXPECT_EQ(copy->MenuText(), "Vellum Tessera 7");
    EXPECT_EQ(copy->Registration().ClassName(), "DUduzBandRegistration");
    EXPECT_EQ(copy->Registration().Clsid(), band.Registration().Clsid());
    EXPECT_EQ(copy->Registration().Description(), "Vellum Tessera 7.0");
    EXPECT_EQ(copy->Registration().Scope(), ensMachine);
  }

  manager.RegisterAllServers();
  const RegistryDump written = Dump(HKEY_CLASSES_ROOT, class_key);
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(written.at("").at(""), Sz("Vellum Tessera 7"));
  EXPECT_EQ(written.at("").at("Description"), Sz("Vellum Tessera 7.0"));
  EXPECT_EQ(written.at("InProcServer32").at("ThreadingModel"), Sz("Apartment"));
  EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey)[""][band.Registration().Clsid()],
            Sz("Vellum Tessera 7.0"));

  manager.UnregisterAllServers();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key));
  EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey)[""].count(band.Registration().Clsid()), 0u);
  UnregisterComponentClass(TTestDeskBand::StaticClass());
}

}  // namespace
}  // namespace vellum::shellext
