// The built DLL through its exports, loaded with LoadLibrary as a host or a
// registration tool would: what each entry point answers before and after the
// server is built, the control word around load and unload, registration
// entries written twice and removed, unloading with a band form still up, and
// what loading does and unloading leaves behind. Every test loads the DLL
// afresh and unloads it again.
#include <windows.h>
#include <gtest/gtest.h>
#include <ole2.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "band/band_ids.h"
#include "band/fpu_control_win.h"
#include "band/server_dll_test_support_win.h"
#include "band/testing/host_link_guard_win.h"
#include "runtime/win/com_ptr_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandobject/band_object_test_support_win.h"

namespace vellum::band {
namespace {

using shellext::testing::BandAreaWindow;
using shellext::testing::TestBandSite;
using testing::DeskBandClassId;
using testing::LoadedServer;
using win::ComPtr;

const CLSID kUnknownClass = {0x1B2C3D4E, 0x5F60, 0x4172, {0x83, 0x94, 0xA5, 0xB6, 0xC7, 0xD8, 0xE9, 0xF0}};

bool ProductLoaded() {
  return GetModuleHandleA("VellumDeskBand.dll") != nullptr;
}

std::string ReadText(HKEY root, const std::string& key, const char* name) {
  char buffer[512] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  return buffer;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// The file names of the modules loaded in this process, in lower case.
std::set<std::string> LoadedModules() {
  std::set<std::string> names;
  win::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
  if (!snapshot) return names;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot.get(), &entry); more; more = Module32Next(snapshot.get(), &entry)) {
    std::string name = entry.szModule;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    names.insert(name);
  }
  return names;
}

// The window classes `module` registered for `window` and its children.
struct ClassSearch {
  HMODULE module = nullptr;
  std::set<std::string> names;
  static BOOL CALLBACK Add(HWND found, LPARAM data) {
    auto& search = *reinterpret_cast<ClassSearch*>(data);
    char name[256] = {};
    if (reinterpret_cast<HMODULE>(GetClassLongPtrA(found, GCLP_HMODULE)) == search.module &&
        GetClassNameA(found, name, sizeof name) > 0) {
      search.names.insert(name);
    }
    return TRUE;
  }
};

std::set<std::string> ModuleClassesOf(HWND window, HMODULE module) {
  ClassSearch search;
  search.module = module;
  ClassSearch::Add(window, reinterpret_cast<LPARAM>(&search));
  EnumChildWindows(window, &ClassSearch::Add, reinterpret_cast<LPARAM>(&search));
  return search.names;
}

bool ClassRegistered(HMODULE module, const std::string& name) {
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  return GetClassInfoExA(module, name.c_str(), &info) != FALSE;
}

const std::string kClassKey = std::string("CLSID\\") + kDeskBandClsid;
constexpr char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

class ProductDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    ASSERT_FALSE(ProductLoaded());
  }
  void TearDown() override {
    EXPECT_FALSE(ProductLoaded());
    OleUninitialize();
  }
};

TEST_F(ProductDllTest, ExportsAnswerBeforeAndAfterTheServerIsBuilt) {
  for (int load = 0; load < 2; ++load) {  // the second load starts from nothing again
    LoadedServer server;
    ASSERT_TRUE(server.Loaded());
    EXPECT_EQ(server.DllCanUnloadNow(), S_OK);
    EXPECT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(server.DllCanUnloadNow(), S_OK);

    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.DllGetClassObject(kUnknownClass, IID_IClassFactory, &answer), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(server.DllCanUnloadNow(), S_FALSE);
    answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IUnknown, &answer), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(answer, nullptr);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    ComPtr<IDeskBand> band;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.ReceiveVoid()), S_OK);
    // A class object hands out one band.
    ComPtr<IDeskBand> second;
    EXPECT_TRUE(FAILED(factory->CreateInstance(nullptr, IID_IDeskBand, second.ReceiveVoid())));
    auto menu = band.As<IContextMenu>(IID_IContextMenu);
    ASSERT_TRUE(menu);
    const win::UniqueMenu popup(CreatePopupMenu());
    EXPECT_EQ(menu->QueryContextMenu(popup.get(), 0, 1, 100, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    EXPECT_EQ(GetMenuItemCount(popup.get()), 0);
    menu.Reset();
    band.Reset();
    factory.Reset();
    // The data module's templates keep the server from unloading.
    EXPECT_EQ(server.DllCanUnloadNow(), S_FALSE);
    server.Unload();
    EXPECT_FALSE(ProductLoaded());
  }
}

TEST_F(ProductDllTest, LoadingSetsTheControlWordAndUnloadingPutsBackTheOneBefore) {
  const unsigned short original = ReadFpuControlWord();
  for (const unsigned short before : std::initializer_list<unsigned short>{0x027F, 0x0C7F, original}) {
    WriteFpuControlWord(before);
    {
      LoadedServer server;
      ASSERT_TRUE(server.Loaded());
      // Bit 6 of the x87 control word is reserved and always reads as one:
      // 0x133F written reads back as 0x137F.
      EXPECT_EQ(ReadFpuControlWord(), 0x137F);
      // Detach restores the word also when it has a server to free.
      void* answer = nullptr;
      server.DllGetClassObject(kUnknownClass, IID_IClassFactory, &answer);
      WriteFpuControlWord(0x133F);
    }
    EXPECT_EQ(ReadFpuControlWord(), before);
  }
}

TEST_F(ProductDllTest, In64BitProcessesLoadingAlsoMasksSseExceptionsAndUnloadingPutsTheRegisterBack) {
  if (!kBandSetsSseControl) GTEST_SKIP() << "a 32-bit process computes with the x87 unit";
  // The flags in the low six bits are sticky results of arithmetic anywhere
  // in the process; the control bits are what the band sets.
  constexpr unsigned kControlBits = 0xFFC0;
  const unsigned original = ReadSseControl();
  // Rounding down, and flush-to-zero with rounding up: no exception unmasked,
  // so that nothing in the loader traps while the test's value is in force.
  for (const unsigned before : {0x3F80u, 0xDF80u, original & kControlBits}) {
    WriteSseControl(before);
    {
      LoadedServer server;
      ASSERT_TRUE(server.Loaded());
      EXPECT_EQ(ReadSseControl() & kControlBits, kBandSseControl);
    }
    EXPECT_EQ(ReadSseControl() & kControlBits, before) << std::hex << before;
  }
  WriteSseControl(original);
}

TEST_F(ProductDllTest, RegisteringTwiceWritesTheSameEntriesAndUnregisteringRemovesThem) {
  LoadedServer server;
  ASSERT_TRUE(server.Loaded());
  char short_path[MAX_PATH] = {};
  GetShortPathNameA(testing::ProductDllPath().c_str(), short_path, MAX_PATH);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(server.DllRegisterServer(), S_OK) << round;
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey, nullptr), "Vellum Tessera 7");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey, "Description"), "Vellum Tessera 7.0");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey + "\\InProcServer32", nullptr), short_path);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey + "\\InProcServer32", "ThreadingModel"), "Apartment");
    EXPECT_TRUE(
        KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Implemented Categories\\{00021492-0000-0000-C000-000000000046}"));
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApprovedKey, kDeskBandClsid), "Vellum Tessera 7.0");
  }
  EXPECT_EQ(server.DllUnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApprovedKey, kDeskBandClsid), "<missing>");
  // Unregistering what is not registered is no failure.
  EXPECT_EQ(server.DllUnregisterServer(), S_OK);
}

// A host that unloads the DLL while a band form is still up in its window
// must be left with no window, timer or hook that leads into the unloaded code.
TEST_F(ProductDllTest, UnloadingWithABandFormUpLeavesNothingOfTheModuleBehind) {
  band::testing::HostLinkRegistryGuard host_link({"InvitationFromBar2", "BarHandle", "DockPanel"});
  BandAreaWindow area;
  TestBandSite site(area.get());
  HWND form = nullptr;
  {
    LoadedServer server;
    ASSERT_TRUE(server.Loaded());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    ComPtr<IDeskBand> band;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.ReceiveVoid()), S_OK);
    ASSERT_EQ(band.As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IOleWindow*>(&site)), S_OK);
    ASSERT_EQ(band->GetWindow(&form), S_OK);
    EXPECT_EQ(GetParent(form), area.get());
    EXPECT_EQ(band->ShowDW(TRUE), S_OK);
    shellext::testing::PumpUntil([] { return false; }, 300);
    band.Reset();
    factory.Reset();
  }
  EXPECT_FALSE(ProductLoaded());
  EXPECT_FALSE(IsWindow(form));
  EXPECT_EQ(GetWindow(area.get(), GW_CHILD), nullptr);
  // Messages, input and idle time after the unload reach none of its code.
  SetForegroundWindow(area.get());
  PostMessageA(area.get(), WM_KEYDOWN, 'A', 0);
  shellext::testing::PumpUntil([] { return false; }, 500);
  area.Destroy();
  EXPECT_EQ(site.references(), 0);
}

// The DLLs `module` imports, by their file names in lower case.
std::set<std::string> ImportsOf(HMODULE module) {
  std::set<std::string> names;
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
       ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    names.insert(name);
  }
  return names;
}

// Loading runs only the control word: no LoadLibrary from static
// initialisation, so once the band's own imports (and theirs) are in, loading
// it adds nothing but itself. The theme library is looked up when the first
// form is made.
TEST_F(ProductDllTest, LoadingLoadsNoLibraryOfItsOwnAndTheThemeLibraryWaitsForTheFirstForm) {
  band::testing::HostLinkRegistryGuard host_link({"InvitationFromBar2", "BarHandle", "DockPanel"});
  std::set<std::string> imports;
  {
    LoadedServer first;
    ASSERT_TRUE(first.Loaded());
    imports = ImportsOf(first.module());
  }
  EXPECT_EQ(imports.count("uxtheme.dll"), 0u) << "looked up, not imported";
  std::vector<win::UniqueModule> held;
  for (const std::string& name : imports) held.emplace_back(LoadLibraryA(name.c_str()));
  const std::set<std::string> before = LoadedModules();
  const bool theme_loaded_before = before.count("uxtheme.dll") != 0;
  BandAreaWindow area;
  TestBandSite site(area.get());
  {
    LoadedServer server;
    ASSERT_TRUE(server.Loaded());
    std::set<std::string> added;
    for (const std::string& name : LoadedModules()) {
      if (before.count(name) == 0) added.insert(name);
    }
    EXPECT_EQ(added, std::set<std::string>{"vellumdeskband.dll"});
    EXPECT_EQ(server.DllCanUnloadNow(), S_OK) << "nothing is built at load";

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    ComPtr<IDeskBand> band;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.ReceiveVoid()), S_OK);
    ASSERT_EQ(band.As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IOleWindow*>(&site)), S_OK);
    HWND form = nullptr;
    ASSERT_EQ(band->GetWindow(&form), S_OK);
    EXPECT_TRUE(theme_loaded_before || LoadedModules().count("uxtheme.dll") != 0) << "looked up for the first form";
  }
  area.Destroy();
}

// A host may load and unload the band again and again: each unload leaves no
// window class of the module registered and no hook that leads into its code,
// and the next load starts from nothing.
TEST_F(ProductDllTest, EachLoadCycleLeavesNoWindowClassOrHookBehind) {
  band::testing::HostLinkRegistryGuard host_link({"InvitationFromBar2", "BarHandle", "DockPanel"});
  for (int cycle = 0; cycle < 2; ++cycle) {
    BandAreaWindow area;
    TestBandSite site(area.get());
    HMODULE module = nullptr;
    std::set<std::string> classes;
    {
      LoadedServer server;
      ASSERT_TRUE(server.Loaded());
      module = server.module();
      ComPtr<IClassFactory> factory;
      ASSERT_EQ(server.DllGetClassObject(DeskBandClassId(), IID_IClassFactory, factory.ReceiveVoid()), S_OK);
      ComPtr<IDeskBand> band;
      ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.ReceiveVoid()), S_OK);
      ASSERT_EQ(band.As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IOleWindow*>(&site)), S_OK);
      HWND form = nullptr;
      ASSERT_EQ(band->GetWindow(&form), S_OK) << "cycle " << cycle;
      EXPECT_EQ(band->ShowDW(TRUE), S_OK);
      shellext::testing::PumpUntil([] { return false; }, 200);
      classes = ModuleClassesOf(form, module);
      EXPECT_FALSE(classes.empty());
      // The cross-thread call window is the module's too.
      if (ClassRegistered(module, "TVellumSyncHelper")) classes.insert("TVellumSyncHelper");
      for (const std::string& name : classes) EXPECT_TRUE(ClassRegistered(module, name)) << name;
      band.Reset();
      factory.Reset();
    }
    EXPECT_FALSE(ProductLoaded());
    for (const std::string& name : classes) EXPECT_FALSE(ClassRegistered(module, name)) << name << ", cycle " << cycle;
    // Input and idle time after the unload reach none of its hooks.
    SetForegroundWindow(area.get());
    PostMessageA(area.get(), WM_KEYDOWN, 'A', 0);
    PostMessageA(area.get(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    shellext::testing::PumpUntil([] { return false; }, 300);
    area.Destroy();
    EXPECT_EQ(site.references(), 0);
  }
}

}  // namespace
}  // namespace vellum::band
