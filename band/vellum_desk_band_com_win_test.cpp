// The built DLL the way the shell meets it: registered by Wine's regsvr32,
// activated by COM from its registration, and driven through the band
// interfaces with the band's own form; then unregistered again.
#include <windows.h>
#include <gtest/gtest.h>
#include <ole2.h>
#include <shobjidl.h>

#include <string>

#include "band/band_ids.h"
#include "band/server_dll_test_support_win.h"
#include "band/testing/host_link_guard_win.h"
#include "runtime/win/com_ptr_win.h"
#include "shellext/bandobject/band_object_test_support_win.h"

namespace vellum::band {
namespace {

using shellext::testing::BandAreaWindow;
using shellext::testing::PumpUntil;
using shellext::testing::TestBandSite;
using testing::DeskBandClassId;
using testing::Regsvr32;
using win::ComPtr;

std::string ServerPath() {
  char buffer[MAX_PATH] = {};
  DWORD size = sizeof buffer;
  const std::string key = std::string("CLSID\\") + kDeskBandClsid + "\\InProcServer32";
  if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return {};
  }
  return buffer;
}

std::string HostLinkValue(const char* name) {
  char buffer[64] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Larchwood\\Vellum7\\Tessera", name, RRF_RT_REG_SZ, nullptr, buffer,
                   &size) != ERROR_SUCCESS) {
    return {};
  }
  return buffer;
}

HRESULT ExportedCanUnloadNow() {
  HMODULE module = GetModuleHandleA("VellumDeskBand.dll");
  if (module == nullptr) return E_FAIL;
  auto can_unload = testing::Export<decltype(&::DllCanUnloadNow)>(module, "DllCanUnloadNow");
  return can_unload != nullptr ? can_unload() : E_FAIL;
}

// Unregisters at the end whatever happened in between.
class Registration {
 public:
  Registration() : first_(Regsvr32()) {}
  ~Registration() { Regsvr32(true); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  DWORD first() const { return first_; }

 private:
  DWORD first_;
};

MSG KeyMessage(HWND window, UINT message, WPARAM key) {
  MSG msg{};
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = key;
  return msg;
}

TEST(ProductThroughCom, RegisteredByRegsvr32ActivatedByComAndHostedLikeTheTaskbarDoes) {
  ASSERT_EQ(OleInitialize(nullptr), S_OK);
  band::testing::HostLinkRegistryGuard host_link({"InvitationFromBar2", "BarHandle", "DockPanel"});
  {
    Registration registration;
    ASSERT_EQ(registration.first(), 0u);
    ASSERT_EQ(Regsvr32(), 0u);  // a second registration is no failure
    char short_path[MAX_PATH] = {};
    GetShortPathNameA(testing::ProductDllPath().c_str(), short_path, MAX_PATH);
    EXPECT_EQ(ServerPath(), short_path);

    BandAreaWindow area(500, 30);
    TestBandSite site(area.get());
    ComPtr<IDeskBand> band;
    ASSERT_EQ(CoCreateInstance(DeskBandClassId(), nullptr, CLSCTX_INPROC_SERVER, IID_IDeskBand, band.ReceiveVoid()),
              S_OK);
    EXPECT_NE(GetModuleHandleA("VellumDeskBand.dll"), nullptr);
    auto with_site = band.As<IObjectWithSite>(IID_IObjectWithSite);
    auto input = band.As<IInputObject>(IID_IInputObject);
    ASSERT_TRUE(with_site && input);
    ASSERT_EQ(with_site->SetSite(static_cast<IOleWindow*>(&site)), S_OK);

    DESKBANDINFO info{};
    info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS;
    EXPECT_EQ(band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), E_NOTIMPL);

    HWND window = nullptr;
    ASSERT_EQ(band->GetWindow(&window), S_OK);
    EXPECT_EQ(GetParent(window), area.get());
    // The band's form announced its windows to Vellum.
    EXPECT_EQ(HostLinkValue("BarHandle"), std::to_string(reinterpret_cast<INT_PTR>(window)));
    EXPECT_FALSE(HostLinkValue("DockPanel").empty());
    EXPECT_FALSE(HostLinkValue("InvitationFromBar2").empty());

    ASSERT_EQ(band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), S_OK);
    EXPECT_EQ(info.ptMinSize.x, -1);
    EXPECT_EQ(info.ptMaxSize.y, -1);
    EXPECT_EQ(info.ptActual.x, 500);
    EXPECT_EQ(info.ptActual.y, 30);
    EXPECT_EQ(info.dwModeFlags, static_cast<DWORD>(DBIMF_VARIABLEHEIGHT));

    EXPECT_EQ(band->ShowDW(TRUE), S_OK);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(band.As<IOleCommandTarget>(IID_IOleCommandTarget)->Exec(nullptr, 6, 0, nullptr, nullptr), S_OK);

    // The band form has no tab stops: Tab leaves the band at once.
    EXPECT_EQ(input->UIActivateIO(TRUE, nullptr), S_OK);
    EXPECT_EQ(input->HasFocusIO(), S_OK);
    MSG tab = KeyMessage(window, WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(input->TranslateAcceleratorIO(&tab), S_FALSE);
    EXPECT_EQ(input->HasFocusIO(), S_FALSE);
    ASSERT_FALSE(site.notices.empty());
    EXPECT_EQ(site.notices.back().has_focus, FALSE);
    MSG other = KeyMessage(window, WM_KEYDOWN, VK_F5);
    EXPECT_EQ(input->TranslateAcceleratorIO(&other), S_OK);

    EXPECT_EQ(band->CloseDW(0), S_OK);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(with_site->SetSite(nullptr), S_OK);
    input.Reset();
    with_site.Reset();
    band.Reset();
    EXPECT_EQ(site.references(), 0);
    EXPECT_TRUE(IsWindow(window));
    // The server stays loaded for good once built.
    EXPECT_EQ(ExportedCanUnloadNow(), S_FALSE);
    area.Destroy();
    EXPECT_FALSE(IsWindow(window));
    PumpUntil([] { return false; }, 400);
  }
  // Unregistered: COM no longer finds the class.
  EXPECT_TRUE(ServerPath().empty());
  ComPtr<IDeskBand> band;
  EXPECT_EQ(CoCreateInstance(DeskBandClassId(), nullptr, CLSCTX_INPROC_SERVER, IID_IDeskBand, band.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);
  OleUninitialize();
}

}  // namespace
}  // namespace vellum::band
