#include <windows.h>

#include <gtest/gtest.h>

#include "band/vellum_desk_band_form_win.h"
#include "runtime/gui/application_win.h"
#include "shellext/bandform/garbage_collector_win.h"

namespace vellum::band {
namespace {

LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

TEST(BandFormSmoke, CreatesInsideAHostWindowAndPublishesHandles) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "SmokeHost";
  RegisterClassA(&wc);
  HWND host = CreateWindowExA(0, "SmokeHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 80, nullptr,
                              nullptr, wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  auto& form = static_cast<TVellumDeskBandForm&>(shellext::DUduzGarbageCollector::Instance().Adopt(
      gui::CreateParentedForm<TVellumDeskBandForm>(host)));
  ASSERT_TRUE(form.HandleAllocated());
  EXPECT_EQ(GetParent(form.Handle()), host);
  EXPECT_EQ(form.LinkState(), 0);
  char buffer[64] = {};
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Larchwood\\Vellum7\\Tessera", "BarHandle", RRF_RT_REG_SZ,
                         nullptr, buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer), std::to_string(reinterpret_cast<intptr_t>(form.Handle())));
  EXPECT_EQ(GetWindowLongA(form.Handle(), GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
  form.CreateHandles();
  SetWindowPos(form.Handle(), nullptr, 0, 0, 300, 28, SWP_NOZORDER);
  EXPECT_EQ(form.pnlDock->Width(), 300);
  EXPECT_EQ(form.pnlDock->Height(), 28);
  EXPECT_EQ(form.cmdActivateVellum->Top(), 28 / 2 - 22 / 2);
  const int before = shellext::DUduzGarbageCollector::Instance().AdoptedCount();
  DestroyWindow(host);
  EXPECT_EQ(shellext::DUduzGarbageCollector::Instance().QueuedCount(), 1);
  const DWORD start = GetTickCount();
  while (shellext::DUduzGarbageCollector::Instance().AdoptedCount() == before && GetTickCount() - start < 2000) {
    gui::TApplication::ProcessMessages();
    Sleep(10);
  }
  EXPECT_EQ(shellext::DUduzGarbageCollector::Instance().AdoptedCount(), before - 1);
}

}  // namespace
}  // namespace vellum::band
