#include "shellext/contextmenu/context_menu_handler_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/component/class_builder.h"
#include "runtime/component/class_info.h"
#include "runtime/win/com_ptr_win.h"
#include "shellext/factory/com_boundary_win.h"
#include "shellext/factory/factory_manager_win.h"

namespace vellum::shellext {
namespace {

// An item that always brings a sub-item of its own: a streamed copy of it
// ends up with one sub-item more than its template.
class TSelfFillingItem : public DUduzMenuItem {
  VELLUM_PERSISTENT_CLASS()
 public:
  TSelfFillingItem() { CreateOwned<DUduzMenuItem>().SetCaption("Always"); }
};

const ClassInfo& TSelfFillingItem::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TSelfFillingItem>("TSelfFillingItem", &DUduzMenuItem::StaticClass()).Build();
  return info;
}

std::string MenuText(HMENU menu, int position) {
  char text[64] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  return text;
}

struct MenuDeleter {
  void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

// Points this program's import of user32!CreatePopupMenu (the one the handler
// calls, linked in here) at a stand-in for one scope.
class PopupMenuImportPatch {
 public:
  using Function = decltype(&::CreatePopupMenu);
  using Slot = decltype(IMAGE_THUNK_DATA{}.u1.Function);
  explicit PopupMenuImportPatch(Function replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name != 0;
         ++module) {
      if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "user32.dll") != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (lstrcmpA(reinterpret_cast<const char*>(name->Name), "CreatePopupMenu") == 0) slot_ = &slots->u1.Function;
      }
    }
    if (slot_ == nullptr) return;
    original_ = reinterpret_cast<Function>(*slot_);
    Write(reinterpret_cast<Slot>(replacement));
  }
  ~PopupMenuImportPatch() {
    if (slot_ != nullptr) Write(reinterpret_cast<Slot>(original_));
  }
  bool applied() const { return slot_ != nullptr; }
  static inline Function original_ = nullptr;

 private:
  void Write(Slot value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    *slot_ = value;
    VirtualProtect(slot_, sizeof *slot_, protection, &protection);
  }
  Slot* slot_ = nullptr;
};

// The handler's sub-menus as it makes them; the second one fails.
std::vector<HMENU> g_popups_made;
HMENU WINAPI CreatePopupMenuFailingSecond() {
  if (g_popups_made.size() == 1) throw EOutOfMemory("no room for another menu");
  g_popups_made.push_back(PopupMenuImportPatch::original_());
  return g_popups_made.back();
}

std::vector<std::string> g_boundary_methods;
void RecordBoundary(const std::exception_ptr&, const char* method) {
  g_boundary_methods.push_back(method);
}

class ContextMenuHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    for (const ClassInfo* info :
         {&DUduzContextMenuHandler::StaticClass(), &DUduzMenuItem::StaticClass(), &TSelfFillingItem::StaticClass()}) {
      RegisterComponentClass(*info);
    }
    manager_ = &data_module_.CreateOwned<DUduzFactoryManager>();
    handler_ = &data_module_.CreateOwned<DUduzContextMenuHandler>();
    handler_->SetName("EasyContextMenuHandler1");
    handler_->Registration().SetClsid(kClsidText);
    manager_->AddToComponentList(*handler_);

    DUduzMenuItem& open = AddItem(handler_->Items(), "&Open", "open");
    open.SetHelpText("Opens Vellum");
    DUduzMenuItem& send = AddItem(handler_->Items(), "Send", "send");
    AddItem(send, "Mail", "mail");
    AddItem(send, "Upload", "upload");
    handler_->OnBeforeBuildMenu = [this](DUduzContextMenuHandler& sender) { log_.push_back("build " + sender.Name()); };
    handler_->OnBeforePopup = [this](DUduzContextMenuHandler&, HMENU) { log_.push_back("popup"); };
  }
  void TearDown() override {
    for (const ClassInfo* info :
         {&DUduzContextMenuHandler::StaticClass(), &DUduzMenuItem::StaticClass(), &TSelfFillingItem::StaticClass()}) {
      UnregisterComponentClass(*info);
    }
    OleUninitialize();
  }

  DUduzMenuItem& AddItem(DUduzMenuItem& parent, const std::string& caption, const std::string& verb) {
    auto& item = parent.CreateOwned<DUduzMenuItem>();
    item.SetCaption(caption);
    item.SetVerb(verb);
    item.OnClick = [this](DUduzMenuItem& sender) { log_.push_back("click " + sender.Caption()); };
    return item;
  }

  win::ComPtr<IContextMenu> CreateMenuObject() {
    CLSID clsid{};
    CLSIDFromString(L"{3F1C2B4A-6D5E-4F70-8A91-B2C3D4E5F607}", &clsid);
    win::ComPtr<IClassFactory> factory = manager_->GetClassObject(clsid);
    win::ComPtr<IContextMenu> menu;
    if (factory) factory->CreateInstance(nullptr, IID_IContextMenu, menu.ReceiveVoid());
    return menu;
  }

  static constexpr char kClsidText[] = "{3F1C2B4A-6D5E-4F70-8A91-B2C3D4E5F607}";
  Component data_module_;
  DUduzFactoryManager* manager_ = nullptr;
  DUduzContextMenuHandler* handler_ = nullptr;
  std::vector<std::string> log_;
};

TEST_F(ContextMenuHandlerTest, ACloneBuildsTheMenuAndItsItemsRunTheTemplatesHandlers) {
  const win::ComPtr<IContextMenu> menu_object = CreateMenuObject();
  ASSERT_TRUE(menu_object);
  EXPECT_TRUE(menu_object.As<IContextMenu2>(IID_IContextMenu2));
  const win::ComPtr<IContextMenu3> menu3 = menu_object.As<IContextMenu3>(IID_IContextMenu3);
  ASSERT_TRUE(menu3);

  const UniqueMenu menu(CreatePopupMenu());
  EXPECT_EQ(menu_object->QueryContextMenu(menu.get(), 0, 100, 200, CMF_NORMAL), MAKE_HRESULT(0, 0, 5))
      << "four items walked, plus one";
  ASSERT_EQ(GetMenuItemCount(menu.get()), 2);
  EXPECT_EQ(MenuText(menu.get(), 0), "&Open");
  EXPECT_EQ(GetMenuItemID(menu.get(), 0), 100u);
  HMENU send = GetSubMenu(menu.get(), 1);
  ASSERT_NE(send, nullptr);
  ASSERT_EQ(GetMenuItemCount(send), 2);
  EXPECT_EQ(MenuText(send, 1), "Upload");
  EXPECT_EQ(GetMenuItemID(send, 1), 103u);

  CMINVOKECOMMANDINFO invoke{};
  invoke.cbSize = sizeof invoke;
  invoke.lpVerb = MAKEINTRESOURCEA(2);
  EXPECT_EQ(menu_object->InvokeCommand(&invoke), S_OK);
  invoke.lpVerb = "OPEN";
  EXPECT_EQ(menu_object->InvokeCommand(&invoke), S_OK);
  invoke.lpVerb = MAKEINTRESOURCEA(9);
  EXPECT_EQ(menu_object->InvokeCommand(&invoke), E_INVALIDARG);
  EXPECT_EQ(menu3->HandleMenuMsg2(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(send), 1, nullptr), S_OK);
  EXPECT_EQ(log_, (std::vector<std::string>{"build EasyContextMenuHandler1", "click Mail", "click &Open", "popup"}));

  const UniqueMenu short_menu(CreatePopupMenu());
  EXPECT_EQ(menu_object->QueryContextMenu(short_menu.get(), 0, 100, 101, CMF_NORMAL), MAKE_HRESULT(0, 0, 5))
      << "items past the last command are counted";
  ASSERT_EQ(GetMenuItemCount(short_menu.get()), 2);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(short_menu.get(), 1)), 0) << "but not inserted";
}

TEST_F(ContextMenuHandlerTest, CommandStringsInBothCharacterSets) {
  const win::ComPtr<IContextMenu> menu_object = CreateMenuObject();
  ASSERT_TRUE(menu_object);
  char ansi[32] = {};
  EXPECT_EQ(menu_object->GetCommandString(0, GCS_VERBA, nullptr, ansi, sizeof ansi), S_OK);
  EXPECT_STREQ(ansi, "open");
  wchar_t wide[32] = {};
  EXPECT_EQ(menu_object->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 32), S_OK);
  EXPECT_STREQ(wide, L"Opens Vellum");
  char cut[5] = {};
  EXPECT_EQ(menu_object->GetCommandString(0, GCS_HELPTEXTA, nullptr, cut, sizeof cut), S_OK);
  EXPECT_STREQ(cut, "Open") << "cut to the buffer, terminated";

  EXPECT_EQ(menu_object->GetCommandString(3, GCS_VALIDATEA, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(menu_object->GetCommandString(4, GCS_VALIDATEW, nullptr, nullptr, 0), S_FALSE);
  EXPECT_EQ(menu_object->GetCommandString(4, GCS_VERBA, nullptr, ansi, sizeof ansi), E_NOTIMPL);
  EXPECT_EQ(menu_object->GetCommandString(4, GCS_HELPTEXTW, nullptr, ansi, sizeof ansi), E_INVALIDARG);
  EXPECT_EQ(menu_object->GetCommandString(0, 0x77, nullptr, ansi, sizeof ansi), E_INVALIDARG);
}

TEST_F(ContextMenuHandlerTest, WithoutItemsNothingIsInsertedAndTheResultIsOne) {
  DUduzContextMenuHandler empty;
  const UniqueMenu menu(CreatePopupMenu());
  EXPECT_EQ(empty.QueryContextMenu(menu.get(), 0, 1, 0x7FFF, CMF_NORMAL), MAKE_HRESULT(0, 0, 1));
  EXPECT_EQ(GetMenuItemCount(menu.get()), 0);
  EXPECT_EQ(empty.ItemAt(0), nullptr);
}

// A failure while a sub-menu is being filled destroys that sub-menu instead of
// leaking it, answers E_FAIL and is seen at the boundary once.
TEST_F(ContextMenuHandlerTest, ASubMenuWhoseFillingFailsIsDestroyed) {
  DUduzMenuItem& send = *handler_->Items().SubItems().at(1);
  AddItem(AddItem(send, "More", "more"), "Deeper", "deeper");
  const UniqueMenu menu(CreatePopupMenu());
  g_popups_made.clear();
  g_boundary_methods.clear();
  const ComBoundaryHandler previous = SetComBoundaryHandler(&RecordBoundary);
  HRESULT result = S_OK;
  {
    PopupMenuImportPatch patch(&CreatePopupMenuFailingSecond);
    ASSERT_TRUE(patch.applied());
    result = handler_->QueryContextMenu(menu.get(), 0, 1, 100, CMF_NORMAL);
  }
  SetComBoundaryHandler(previous);
  EXPECT_EQ(result, E_FAIL);
  ASSERT_EQ(g_popups_made.size(), 1u) << "the sub-menu of \"Send\"";
  EXPECT_FALSE(IsMenu(g_popups_made[0]));
  EXPECT_EQ(GetMenuItemCount(menu.get()), 1) << "\"Open\" went in before the failure";
  EXPECT_EQ(g_boundary_methods, (std::vector<std::string>{"DUduzContextMenuHandler::QueryContextMenu"}));
}

TEST_F(ContextMenuHandlerTest, ACopyWhoseItemTreeDiffersFromItsTemplateIsRefused) {
  auto& filling = handler_->Items().CreateOwned<TSelfFillingItem>();
  filling.SetCaption("Filling");
  CLSID clsid{};
  CLSIDFromString(L"{3F1C2B4A-6D5E-4F70-8A91-B2C3D4E5F607}", &clsid);
  try {
    manager_->GetClassObject(clsid);
    FAIL() << "the copy has a sub-item its template lacks";
  } catch (const EEventCloneError& e) {
    EXPECT_EQ(e.Message(), "Error cloning EasyMenuItem Events");
  }
}

}  // namespace
}  // namespace vellum::shellext
