// The band's side of the host link, played against the stand-in Vellum in a
// second process: the registry values, the announcement and its answer, the
// debounced size notices, and the cases where the band must send nothing.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "band/band_test_support_win.h"

namespace vellum::band {
namespace {

using band::testing::HostLinkRegistryGuard;
using band::testing::StandinProcess;
using gui::testing::kGenerousWaitMs;
using gui::testing::PumpFor;
using gui::testing::PumpUntil;
using testing::HostedBand;
using testing::LinesStartingWith;
using testing::ReadLinkValue;
using testing::SignedDecimal;

// Tomorrow in local time as "yyyymmdd", worked out with the system's own
// calendar arithmetic rather than the band's.
std::string TomorrowLocal() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME file_time{};
  SystemTimeToFileTime(&now, &file_time);
  ULARGE_INTEGER value{};
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  value.QuadPart += 24ull * 60 * 60 * 10000000;
  file_time.dwLowDateTime = value.LowPart;
  file_time.dwHighDateTime = value.HighPart;
  SYSTEMTIME tomorrow{};
  FileTimeToSystemTime(&file_time, &tomorrow);
  char text[16];
  std::snprintf(text, sizeof text, "%04u%02u%02u", tomorrow.wYear, tomorrow.wMonth, tomorrow.wDay);
  return text;
}

void ExpectPublished(const HostedBand& band) {
  EXPECT_EQ(ReadLinkValue("BarHandle"), SignedDecimal(band->Handle()));
  EXPECT_EQ(ReadLinkValue("DockPanel"), SignedDecimal(band.PanelWindow()));
  EXPECT_EQ(GetParent(band.PanelWindow()), band->Handle());
  EXPECT_EQ(ReadLinkValue("InvitationFromBar2"), TomorrowLocal());
}

TEST(HostLink, CreationPublishesTheWindowsAndTomorrowsDateCreatingTheKeys) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Larchwood\\Vellum7");
  StandinProcess standin({});
  ASSERT_NE(standin.WaitReady(), nullptr);

  HostedBand band;
  ExpectPublished(band);
  EXPECT_EQ(band->CommandLine(), "") << "no CMDLINE value: empty";
  EXPECT_EQ(band->LinkState(), 0);
  EXPECT_EQ(band->HostWindow(), nullptr);
  ASSERT_TRUE(testing::BandSettled(band, standin));
  EXPECT_TRUE(LinesStartingWith(standin, "announce").empty()) << "creation sends no message";
  EXPECT_TRUE(LinesStartingWith(standin, "size").empty());

  // CMDLINE is read once, when the form is made.
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("CMDLINE", "C:\\Program Files\\Vellum\\Vellum.exe"));
  EXPECT_EQ(band->CommandLine(), "");
  HostedBand second;
  EXPECT_EQ(second->CommandLine(), "C:\\Program Files\\Vellum\\Vellum.exe");
  ExpectPublished(second);
}

TEST(HostLink, ConnectAnnouncesTheAnswerLinksAndTheSizeFollows) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  StandinProcess standin({});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);
  HostedBand band(300, 28);
  HostLinkRegistryGuard::WriteText("BarHandle", "stale");
  HostLinkRegistryGuard::WriteText("InvitationFromBar2", "19990101");

  band.ClickConnectButton();
  ExpectPublished(band);  // written afresh before announcing
  EXPECT_EQ(standin.WaitFor("announce "), "announce " + SignedDecimal(band->Handle()));
  ASSERT_TRUE(PumpUntil([&] { return band->LinkState() == kLinked; })) << "no answer from Vellum";
  EXPECT_EQ(band->HostWindow(), hidden);

  // 250 ms after the link notice, the panel's size: height high, width low.
  EXPECT_EQ(standin.WaitFor("size "), "size 300 28 " + std::to_string(28 * 65536 + 300));
  const DWORD answered = testing::TickOf(standin, "answer " + SignedDecimal(band->Handle()));
  const DWORD sized = testing::TickOf(standin, "size 300 28 " + std::to_string(28 * 65536 + 300));
  EXPECT_GE(sized - answered, 230u) << "the size went out before the debounce period";

  // Connect again while linked: values written again and a second announcement.
  band->act_Connect->Execute();
  ASSERT_TRUE(PumpUntil([&] { return LinesStartingWith(standin, "announce ").size() == 2; }));
  EXPECT_TRUE(PumpUntil([&] { return LinesStartingWith(standin, "size ").size() >= 2; }, kGenerousWaitMs))
      << "the second answer brings the size again";
  ASSERT_TRUE(testing::BandSettled(band, standin));
  EXPECT_EQ(LinesStartingWith(standin, "size ").size(), 2u) << "once";
}

TEST(HostLink, ABurstOfResizesSendsOneSizeWithTheLastValues) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  StandinProcess standin({});
  ASSERT_NE(standin.WaitReady(), nullptr);
  HostedBand band(300, 28);
  band->act_Connect->Execute();
  ASSERT_FALSE(standin.WaitFor("size ").empty());

  // Resizes 100 ms apart, inside the debounce period: each starts it again.
  band.Resize(200, 20);
  PumpFor(100);
  band.Resize(250, 24);
  PumpFor(100);
  const DWORD last_resize = GetTickCount();
  band.Resize(280, 27);
  // The button is centred vertically and the label follows it.
  EXPECT_EQ(band->cmdActivateVellum->Top(), 27 / 2 - 22 / 2);
  EXPECT_EQ(band->lblMsg->Top(), band->cmdActivateVellum->Top() + 4);

  ASSERT_TRUE(PumpUntil([&] { return LinesStartingWith(standin, "size ").size() >= 2; }));
  ASSERT_TRUE(testing::BandSettled(band, standin));
  const std::vector<std::string> sizes = LinesStartingWith(standin, "size ");
  ASSERT_EQ(sizes.size(), 2u) << "one notice for the whole burst";
  EXPECT_EQ(sizes[1], "size 280 27 " + std::to_string(27 * 65536 + 280));
  EXPECT_GE(testing::TickOf(standin, sizes[1]) - last_resize, 230u);

  // Every later resize is sent again.
  band.Resize(120, 40);
  ASSERT_TRUE(PumpUntil([&] { return LinesStartingWith(standin, "size ").size() == 3; }));
  EXPECT_EQ(LinesStartingWith(standin, "size ")[2], "size 120 40 " + std::to_string(40 * 65536 + 120));
}

TEST(HostLink, PlusAnnouncesOnlyWhileNotLinked) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  HostedBand band;
  // Vellum absent: '+' does nothing visible.
  {
    testing::MessageBoxWatcher boxes("Information");
    SendMessageA(band.PanelWindow(), WM_CHAR, '+', 0);
    ASSERT_TRUE(testing::BandSettled(band));
    EXPECT_EQ(boxes.Count(), 0);
    EXPECT_EQ(band->LinkState(), 0);
  }

  StandinProcess standin({});
  ASSERT_NE(standin.WaitReady(), nullptr);
  // The form previews keys typed into its controls; only '+' announces.
  SendMessageA(band.PanelWindow(), WM_CHAR, '-', 0);
  SendMessageA(band->Handle(), WM_CHAR, 'a', 0);
  ASSERT_TRUE(testing::BandSettled(band, standin));
  EXPECT_TRUE(LinesStartingWith(standin, "announce").empty());
  SendMessageA(band.PanelWindow(), WM_CHAR, '+', 0);
  EXPECT_EQ(standin.WaitFor("announce "), "announce " + SignedDecimal(band->Handle()));
  ASSERT_TRUE(PumpUntil([&] { return band->LinkState() == kLinked; }));

  SendMessageA(band.PanelWindow(), WM_CHAR, '+', 0);
  SendMessageA(band->Handle(), WM_CHAR, '+', 0);
  ASSERT_TRUE(testing::BandSettled(band, standin));
  EXPECT_EQ(LinesStartingWith(standin, "announce").size(), 1u) << "'+' while linked does nothing";
}

TEST(HostLink, OnlyALinkNoticeChangesTheLinkAndAWrongClassNeverGetsSizes) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  HostedBand band;
  StandinProcess impostor({"--class", "TfrmSomethingElse"});
  const HWND wrong = impostor.WaitReady();
  ASSERT_NE(wrong, nullptr);

  for (WPARAM other : {WPARAM{778}, WPARAM{776}, WPARAM{0}}) {
    EXPECT_EQ(SendMessageA(band->Handle(), WM_HOTKEY, other, reinterpret_cast<LPARAM>(wrong)), 0);
  }
  EXPECT_EQ(band->LinkState(), 0);
  EXPECT_EQ(band->HostWindow(), nullptr);

  // '+' finds the window by its name but does not announce to a stranger;
  // the band keeps the window all the same.
  SendMessageA(band.PanelWindow(), WM_CHAR, '+', 0);
  EXPECT_EQ(band->HostWindow(), wrong);
  EXPECT_EQ(band->LinkState(), 0);

  // A link notice naming the stranger links the band, but sizes go nowhere.
  SendMessageA(band->Handle(), WM_HOTKEY, 777, reinterpret_cast<LPARAM>(wrong));
  EXPECT_EQ(band->LinkState(), kLinked);
  EXPECT_EQ(band->HostWindow(), wrong);
  band.Resize(250, 30);
  ASSERT_TRUE(testing::BandSettled(band, impostor));
  EXPECT_TRUE(LinesStartingWith(impostor, "announce").empty());
  EXPECT_TRUE(LinesStartingWith(impostor, "size").empty());
  EXPECT_EQ(band->HostWindow(), wrong) << "the band keeps the window it was told";
}

}  // namespace
}  // namespace vellum::band
