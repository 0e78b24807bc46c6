// The whole road of a band against the stand-in Vellum: the form published
// in the registry, Vellum answering from the registry and docking its bar
// into the panel, sizes following, a picture of the band for the build's
// artefacts, and the shell destroying the site at the end.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "band/band_test_support_win.h"
#include "band/testing/standin_commands.h"
#include "runtime/gui/testing/window_png_win.h"
#include "shellext/bandform/garbage_collector_win.h"

namespace vellum::band {
namespace {

using band::testing::HostLinkRegistryGuard;
using band::testing::StandinProcess;
using gui::testing::PumpUntil;
using shellext::DUduzGarbageCollector;
using testing::HostedBand;
using testing::SignedDecimal;

// <build>/artifacts, beside the bin folder this program runs from.
std::string ArtifactsFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder = folder.substr(0, folder.find_last_of('\\'));  // bin
  folder = folder.substr(0, folder.find_last_of('\\') + 1) + "artifacts";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

DWORD OwnerProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

bool IsDark(COLORREF color) {
  return GetRValue(color) < 96 && GetGValue(color) < 96 && GetBValue(color) < 96;
}

TEST(Docking, VellumDocksItsBarIntoThePanelAndTheShellEndsTheBand) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  gui::testing::ScreenLock screen;
  const COLORREF taskbar = RGB(32, 36, 44);
  HostedBand hosted(360, 32, taskbar);
  hosted.host.MakeTopmost();
  HWND panel = hosted.PanelWindow();
  HWND form_window = hosted->Handle();
  // From here on the band form belongs to the collector, as in the product.
  auto& form = static_cast<TVellumDeskBandForm&>(DUduzGarbageCollector::Instance().Adopt(std::move(hosted.form)));

  // The band as it waits for Vellum: the panel with its connect button and label.
  RedrawWindow(hosted.host.get(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  const gui::testing::Capture waiting = gui::testing::CaptureClient(hosted.host.get());
  ASSERT_TRUE(gui::testing::WritePng(waiting, ArtifactsFolder() + "\\band_form_undocked.png"));
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(waiting.At(350, 2), face) << "the panel's background";
  EXPECT_EQ(waiting.At(370, 10), taskbar) << "the host around the band";
  const int top = form.cmdActivateVellum->Top();
  const RECT button{8, top, 31, top + 22};
  EXPECT_GT(waiting.Count(face, button), 0);
  EXPECT_LT(waiting.Count(face, button), 23 * 22) << "the button's glyph is drawn";
  int dark_label_pixels = 0;
  for (int y = form.lblMsg->Top(); y < form.lblMsg->Top() + 14; ++y) {
    for (int x = 35; x < 160; ++x) dark_label_pixels += IsDark(waiting.At(x, y)) ? 1 : 0;
  }
  EXPECT_GT(dark_label_pixels, 40) << "the label's text is drawn";

  // Vellum started after the band reads the registry on its own: it docks
  // into "DockPanel" and answers "BarHandle" unasked.
  StandinProcess standin({"--dock", "--answer-registry"});
  ASSERT_NE(standin.WaitReady(), nullptr);
  EXPECT_EQ(standin.WaitFor("docked "), "docked " + SignedDecimal(panel));
  ASSERT_TRUE(PumpUntil([&] { return form.LinkState() == kLinked; })) << "no link notice";
  EXPECT_EQ(standin.WaitFor("size "), "size 360 32 " + std::to_string(32 * 65536 + 360));

  // A window docked from another process is in the window tree, but Wine
  // does not draw it: the tree and the geometry are what can be checked.
  const HWND bar = FindWindowExA(panel, nullptr, band::testing::kTesseraClass, nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetParent(bar), panel);
  EXPECT_TRUE(IsChild(form_window, bar));
  EXPECT_EQ(OwnerProcess(bar), standin.process_id());
  RECT bar_client{};
  GetClientRect(bar, &bar_client);
  EXPECT_EQ(bar_client.right, 360);
  EXPECT_EQ(bar_client.bottom, 32);

  // The taskbar shrinks the band: the bar follows the size the band sends.
  form.SetBounds(0, 0, 300, 28);
  ASSERT_FALSE(standin.WaitFor("size 300 ").empty());
  ASSERT_TRUE(PumpUntil([&] {
    GetClientRect(bar, &bar_client);
    return bar_client.right == 300 && bar_client.bottom == 28;
  }));

  // The picture of the docked band. Wine does not draw the bar of the
  // other process, so its rectangle shows what lay beneath it in the host.
  form.SetBounds(0, 0, 360, 32);
  ASSERT_FALSE(standin.WaitFor("size 360 32 ").empty());
  ASSERT_TRUE(PumpUntil([&] {
    GetClientRect(bar, &bar_client);
    return bar_client.right == 360 && bar_client.bottom == 32;
  }));
  RedrawWindow(hosted.host.get(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  const gui::testing::Capture docked = gui::testing::CaptureClient(hosted.host.get());
  ASSERT_TRUE(gui::testing::WritePng(docked, ArtifactsFolder() + "\\band_form.png"));
  EXPECT_EQ(docked.At(370, 10), taskbar);

  // The shell destroys the band's site: the bar goes with the panel, and the
  // collector frees the form.
  const int adopted = DUduzGarbageCollector::Instance().AdoptedCount();
  hosted.host.Destroy();
  EXPECT_FALSE(standin.WaitFor("bar-destroyed").empty());
  EXPECT_TRUE(PumpUntil([&] { return DUduzGarbageCollector::Instance().AdoptedCount() == adopted - 1; }));
}

}  // namespace
}  // namespace vellum::band
