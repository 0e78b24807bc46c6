// The desk band handler's context menu as the shell sees it through the band
// object, the handler made by the band against one a designer assigned, and
// copies of a template handed out by the factory manager.
#include "shellext/deskband/desktop_band_handler_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/component/class_info.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandobject/band_object_test_support_win.h"
#include "shellext/factory/factory_manager_win.h"
#include "shellext/factory/live_object_count_win.h"

namespace vellum::shellext {
namespace {

using testing::BandAreaWindow;
using testing::PumpUntil;
using testing::TestBandSite;
using testing::TTestBandForm;
using win::ComPtr;

constexpr char kTestClsid[] = "{0E6B1D42-7A3C-4C59-B8E0-29F4D1A6C713}";

// Hears of the destruction of the components it watches.
class Watcher : public Component {
 public:
  void Watch(Component& component) { FreeNotification(component); }
  bool Heard(const Component* component) const {
    for (const Component* removed : removed_) {
      if (removed == component) return true;
    }
    return false;
  }

 protected:
  void Notification(Component& component, Operation operation) override {
    Component::Notification(component, operation);
    if (operation == Operation::kRemove) removed_.push_back(&component);
  }

 private:
  std::vector<const Component*> removed_;
};

class DesktopBandHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    live_before_ = LiveObjectCount();
  }
  void TearDown() override {
    band_.Reset();
    EXPECT_EQ(LiveObjectCount(), live_before_);
    OleUninitialize();
  }

  // A band object with its one count held by band_.
  DUduzDesktopBandHandler& MakeBand() {
    auto created = std::make_unique<DUduzDesktopBandHandler>();
    created->SetRefCounted(true);
    created->_AddRef();
    DUduzDesktopBandHandler& band = *created;
    band_ = ComPtr<IDeskBand>::Attach(static_cast<IDeskBand*>(created.release()));
    return band;
  }

  ComPtr<IDeskBand> band_;
  LONG live_before_ = 0;
};

TEST_F(DesktopBandHandlerTest, OneHandlerAnswersTheContextMenuInterfacesAndCountsOnTheBand) {
  DUduzDesktopBandHandler& band = MakeBand();
  EXPECT_EQ(band.InstalledContextMenu(), nullptr);
  auto menu = band_.As<IContextMenu>(IID_IContextMenu);
  ASSERT_TRUE(menu);
  DUduzContextMenuHandler* handler = band.InstalledContextMenu();
  ASSERT_NE(handler, nullptr);
  EXPECT_TRUE(band.OwnsContextMenu());
  EXPECT_EQ(menu.get(), static_cast<IContextMenu*>(handler));
  auto again = band_.As<IContextMenu>(IID_IContextMenu);
  EXPECT_EQ(again.get(), menu.get());
  EXPECT_EQ(band_.As<IContextMenu2>(IID_IContextMenu2).get(), static_cast<IContextMenu2*>(handler));
  EXPECT_EQ(band_.As<IContextMenu3>(IID_IContextMenu3).get(), static_cast<IContextMenu3*>(handler));
  EXPECT_EQ(band.InstalledContextMenu(), handler);
  // The band's count: band_, menu and again.
  EXPECT_EQ(band.RefCount(), 3);
  again.Reset();

  // The menu alone keeps the band (and itself) alive.
  band_.Reset();
  EXPECT_GT(LiveObjectCount(), live_before_);
  EXPECT_EQ(menu->AddRef(), 2u);
  EXPECT_EQ(menu->Release(), 1u);
  menu.Reset();
  EXPECT_EQ(LiveObjectCount(), live_before_);
}

TEST_F(DesktopBandHandlerTest, QueryContextMenuWithoutItemsInsertsNothingAndAnswersOne) {
  MakeBand();
  auto menu = band_.As<IContextMenu3>(IID_IContextMenu3);
  ASSERT_TRUE(menu);
  const win::UniqueMenu popup(CreatePopupMenu());
  AppendMenuA(popup.get(), MF_STRING, 1, "Shell's own item");
  EXPECT_EQ(menu->QueryContextMenu(popup.get(), 0, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
  EXPECT_EQ(GetMenuItemCount(popup.get()), 1);
  // No item answers to any command number.
  EXPECT_EQ(menu->GetCommandString(0, GCS_VALIDATEA, nullptr, nullptr, 0), S_FALSE);
  char verb[32] = {};
  EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, verb, sizeof verb), E_NOTIMPL);
  CMINVOKECOMMANDINFO invoke{};
  invoke.cbSize = sizeof invoke;
  invoke.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_TRUE(FAILED(menu->InvokeCommand(&invoke)));
  EXPECT_EQ(menu->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.get()), 0), S_OK);
}

TEST_F(DesktopBandHandlerTest, AnAssignedHandlerReplacesTheBandsOwnAndOutlivesTheBand) {
  Component data_module;
  auto& designed = data_module.CreateOwned<DUduzContextMenuHandler>();
  designed.SetName("DesignedMenu");
  Watcher watcher;
  watcher.Watch(designed);

  DUduzDesktopBandHandler& band = MakeBand();
  DUduzContextMenuHandler* own = band.GetContextMenu();
  ASSERT_NE(own, nullptr);
  watcher.Watch(*own);
  band.SetContextMenu(&designed);
  EXPECT_TRUE(watcher.Heard(own));  // the band's own handler was freed
  EXPECT_EQ(band.InstalledContextMenu(), &designed);
  EXPECT_FALSE(band.OwnsContextMenu());
  EXPECT_TRUE(designed.RefCounted());
  EXPECT_EQ(designed.Controller(), band.Unknown());

  {
    auto menu = band_.As<IContextMenu>(IID_IContextMenu);
    EXPECT_EQ(menu.get(), static_cast<IContextMenu*>(&designed));
    EXPECT_EQ(band.RefCount(), 2);
  }
  EXPECT_EQ(band.RefCount(), 1);

  band_.Reset();  // the band goes; the designer's handler stays with its owner
  EXPECT_FALSE(watcher.Heard(&designed));
  EXPECT_EQ(data_module.FindComponent("DesignedMenu"), &designed);
  EXPECT_EQ(designed.Controller(), nullptr);
}

TEST_F(DesktopBandHandlerTest, RemovingTheAssignedHandlerFromItsOwnerClearsTheBandsReference) {
  Component data_module;
  auto& designed = data_module.CreateOwned<DUduzContextMenuHandler>();
  DUduzDesktopBandHandler& band = MakeBand();
  band.SetContextMenu(&designed);
  data_module.DestroyComponent(designed);
  EXPECT_EQ(band.InstalledContextMenu(), nullptr);
  EXPECT_FALSE(band.OwnsContextMenu());

  // The next query makes a handler of the band's own.
  auto menu = band_.As<IContextMenu>(IID_IContextMenu);
  ASSERT_TRUE(menu);
  EXPECT_TRUE(band.OwnsContextMenu());
  // Installing nothing frees it again.
  menu.Reset();
  band.SetContextMenu(nullptr);
  EXPECT_EQ(band.InstalledContextMenu(), nullptr);
}

TEST_F(DesktopBandHandlerTest, CopiesOfATemplateAreBandsWithTheirOwnMenusAndTheTemplatesForm) {
  RegisterComponentClass(DUduzContextMenuHandler::StaticClass());
  RegisterComponentClass(DUduzDesktopBandHandler::StaticClass());
  TTestBandForm::ResetDesign();
  BandAreaWindow area;
  TestBandSite site(area.get());
  {
    Component data_module;
    data_module.SetName("DataModule1");
    auto& manager = data_module.CreateOwned<DUduzFactoryManager>();
    auto& band_template = data_module.CreateOwned<DUduzDesktopBandHandler>();
    band_template.SetName("EasyDesktopBandHandler1");
    band_template.SetMenuText("Test band menu");
    band_template.Registration().SetClsid(kTestClsid);
    band_template.OnGetBandForm = [](Component&, const ClassInfo*& form) { form = &TTestBandForm::StaticClass(); };
    manager.AddToComponentList(band_template);

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(L"{0E6B1D42-7A3C-4C59-B8E0-29F4D1A6C713}", &clsid), S_OK);
    std::vector<ComPtr<IDeskBand>> bands;
    for (int i = 0; i < 2; ++i) {
      ComPtr<IClassFactory> factory = manager.GetClassObject(clsid);
      ASSERT_TRUE(factory);
      ComPtr<IDeskBand> band;
      ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.ReceiveVoid()), S_OK);
      bands.push_back(band);
    }
    auto first = bands[0].As<IContextMenu>(IID_IContextMenu);
    auto second = bands[1].As<IContextMenu>(IID_IContextMenu);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(static_cast<IContextMenu*>(band_template.GetContextMenu()), first.get());

    auto* copy = dynamic_cast<DUduzDesktopBandHandler*>(static_cast<DUduzShellBandComponent*>(bands[0].get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->MenuText(), "Test band menu");
    EXPECT_EQ(copy->Registration().Clsid(), kTestClsid);
    EXPECT_EQ(copy->Owner(), nullptr);
    // The copy names the template's form.
    ASSERT_EQ(bands[0].As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IOleWindow*>(&site)), S_OK);
    HWND window = nullptr;
    ASSERT_EQ(bands[0]->GetWindow(&window), S_OK);
    EXPECT_EQ(window, TTestBandForm::last->Handle());
    EXPECT_EQ(GetParent(window), area.get());
    ASSERT_EQ(bands[0].As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(nullptr), S_OK);
  }
  area.Destroy();
  EXPECT_TRUE(PumpUntil([] { return TTestBandForm::instances == 0; }));
  EXPECT_EQ(site.references(), 0);
}

}  // namespace
}  // namespace vellum::shellext
