// The band's commands when Vellum cannot be reached (launching the stored
// program or telling the user how to connect), its popup menu with the
// hidden test error, closing, and the about box.
#include <windows.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <string>

#include "band/about_box_win.h"
#include "band/band_test_support_win.h"
#include "runtime/exception.h"
#include "runtime/gui/application_win.h"

namespace vellum::band {
namespace {

using band::testing::HostLinkRegistryGuard;
using gui::TPopupMenu;
using gui::testing::PumpUntil;
using testing::HostedBand;
using testing::MessageBoxWatcher;

const char kReadyText[] = "Tessera Is Now Ready.  Run Vellum, then connect with Tools | Connect To Tessera.";

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program(path);
  return program.substr(0, program.find_last_of('\\') + 1);
}

// The marker program writes the file named by VELLUM_LAUNCH_MARKER, which
// it inherits from this process through WinExec.
struct LaunchMarker {
  std::string program = ProgramFolder() + "band_launch_marker.exe";
  std::string marker;
  LaunchMarker() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    marker = std::string(temp) + "band_launch_marker_" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(marker.c_str());
    SetEnvironmentVariableA("VELLUM_LAUNCH_MARKER", marker.c_str());
  }
  ~LaunchMarker() {
    SetEnvironmentVariableA("VELLUM_LAUNCH_MARKER", nullptr);
    DeleteFileA(marker.c_str());
  }
  bool Launched() const { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }
  // Whether a marker program was started by now. WinExec returns once the
  // process exists, and the process writes the file before it ends: one
  // that is no longer running has left the file. So the processes are
  // looked at first, then the file.
  bool Started() const { return RunningAsChild() || Launched(); }

 private:
  static bool RunningAsChild() {
    const win::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
      if (entry.th32ParentProcessID == GetCurrentProcessId() &&
          lstrcmpiA(entry.szExeFile, "band_launch_marker.exe") == 0) {
        return true;
      }
    }
    return false;
  }
};

TEST(Connect, WithoutVellumTheStoredProgramIsLaunched) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  LaunchMarker launch;
  ASSERT_NE(GetFileAttributesA(launch.program.c_str()), INVALID_FILE_ATTRIBUTES) << launch.program;
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("CMDLINE", launch.program));
  HostedBand band;
  MessageBoxWatcher boxes("Information");
  band.ClickConnectButton();
  EXPECT_TRUE(launch.Started()) << "the program was not started";
  EXPECT_TRUE(PumpUntil([&] { return launch.Launched(); }, 10000)) << "the program did not run";
  EXPECT_EQ(boxes.Count(), 0);
}

TEST(Connect, WithoutVellumOrALaunchableProgramTheUserIsToldHowToConnect) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  LaunchMarker launch;
  // No value, a file that does not exist, and an existing program with
  // arguments (the file test takes the whole line, so it is not launched).
  for (const std::string& command_line :
       {std::string(), launch.program + ".missing.exe", launch.program + " --now", ProgramFolder()}) {
    SCOPED_TRACE("CMDLINE '" + command_line + "'");
    if (command_line.empty()) {
      HostLinkRegistryGuard::Delete("CMDLINE");
    } else {
      ASSERT_TRUE(HostLinkRegistryGuard::WriteText("CMDLINE", command_line));
    }
    HostedBand band;
    MessageBoxWatcher boxes("Information");
    band->act_Connect->Execute();  // returns once the box was answered
    EXPECT_EQ(boxes.Count(), 1);
    const std::vector<std::string> texts = boxes.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), kReadyText), texts.end()) << ::testing::PrintToString(texts);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "OK"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Cancel"), texts.end());
    EXPECT_FALSE(launch.Started());
  }
}

// Chooses menu entries by caption and records what the menu offered.
class MenuChoice {
 public:
  MenuChoice() {
    TPopupMenu::SetChooser([this](const std::vector<TPopupMenu::Entry>& entries) {
      offered.clear();
      int index = -1;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        offered.push_back(entries[i].caption + (entries[i].enabled ? "" : " (disabled)"));
        if (entries[i].caption == choose) index = static_cast<int>(i);
      }
      return index;
    });
  }
  ~MenuChoice() { TPopupMenu::SetChooser(nullptr); }
  std::string choose;
  std::vector<std::string> offered;
};

void OpenPopup(HWND window) {
  SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), -1);
}

TEST(PopupMenu, CtrlRevealsTheTestErrorForGoodAndItReachesTheExceptionHandling) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  HostedBand band;
  MenuChoice menu;
  const std::vector<std::string> usual = {"Connect to Vellum", "About Tessera", "Close Tessera"};
  OpenPopup(band.PanelWindow());
  EXPECT_EQ(menu.offered, usual);
  for (gui::TMenuItem* item : {band->mnu_Connect, band->AboutTessera1, band->mnuSTExit, band->estError1}) {
    EXPECT_EQ(item->Tag(), 99);
    EXPECT_EQ(item->HelpContext(), 99999);
  }

  std::vector<std::string> caught;
  Component* sender = nullptr;
  gui::Application().SetExceptionHook([&](Component* from, std::exception_ptr error) {
    sender = from;
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      caught.push_back(std::string(e.ClassName()) + ": " + e.Message());
    }
    return true;
  });

  gui::testing::SetControlKeyDown(true);
  OpenPopup(band->lblMsg->Handle());  // the label has no menu: its panel's shows
  gui::testing::SetControlKeyDown(false);
  EXPECT_EQ(menu.offered,
            (std::vector<std::string>{"Connect to Vellum", "About Tessera", "Close Tessera", "TestError"}));
  EXPECT_TRUE(caught.empty());

  // Still there without Ctrl; chosen, it raises inside the window message.
  menu.choose = "TestError";
  OpenPopup(band->Handle());
  EXPECT_EQ(menu.offered.size(), 4u);
  ASSERT_EQ(caught, std::vector<std::string>{"EZeroDivide: Test Error."});
  EXPECT_EQ(sender, band.form.get());
  EXPECT_TRUE(IsWindow(band->Handle()));
  gui::Application().SetExceptionHook(nullptr);

  // A new form starts with it hidden again.
  HostedBand another;
  menu.choose.clear();
  OpenPopup(another.PanelWindow());
  EXPECT_EQ(menu.offered, usual);
}

TEST(PopupMenu, CloseHidesTheFormAndReleasesTheRegistryUntilTheNextConnect) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  band::testing::StandinProcess standin({});
  ASSERT_NE(standin.WaitReady(), nullptr);
  HostedBand band;
  ASSERT_TRUE(IsWindowVisible(band->Handle()));
  MenuChoice menu;
  menu.choose = "Close Tessera";
  OpenPopup(band.PanelWindow());
  EXPECT_FALSE(IsWindowVisible(band->Handle()));
  EXPECT_FALSE(band->RegistryOpen());
  ASSERT_TRUE(testing::BandSettled(band, standin));
  EXPECT_TRUE(testing::LinesStartingWith(standin, "announce").empty()) << "nothing is sent to Vellum";

  HostLinkRegistryGuard::Delete("BarHandle");
  menu.choose = "Connect to Vellum";
  OpenPopup(band.PanelWindow());
  EXPECT_TRUE(band->RegistryOpen());
  EXPECT_EQ(testing::ReadLinkValue("BarHandle"), testing::SignedDecimal(band->Handle()));
  EXPECT_FALSE(standin.WaitFor("announce ").empty());
}

std::function<void()>& PendingStep() {
  static std::function<void()> pending;
  return pending;
}

void CALLBACK RunPendingStep(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (PendingStep()) std::exchange(PendingStep(), nullptr)();
}

// Runs `step` once from a thread timer: inside a modal loop of this thread.
void SoonOnThisThread(std::function<void()> step) {
  PendingStep() = std::move(step);
  SetTimer(nullptr, 0, 100, &RunPendingStep);
}

TEST(AboutBox, ShowsTheVersionAndOkEndsTheModalLoop) {
  auto about = gui::CreateForm<TAboutBox>();
  EXPECT_EQ(about->lblVersion->Caption(), "Version");
  std::string version_while_shown;
  RECT client{};
  SoonOnThisThread([&] {
    version_while_shown = about->lblVersion->Caption();
    GetClientRect(about->Handle(), &client);
    SendMessageA(about->OKButton->Handle(), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(about->ShowModal(), gui::mrOk);
  EXPECT_EQ(version_while_shown, kVersionText);
  EXPECT_EQ(std::string(kVersionText), "v7.0.02 Build 118");
  EXPECT_EQ(client.right, 333);
  EXPECT_EQ(client.bottom, 213);
  EXPECT_LE(about->OKButton->Top() + about->OKButton->Height(), client.bottom) << "the OK button is inside";
  EXPECT_EQ(about->Caption(), "About");
}

TEST(AboutBox, TheBandShowsANewBoxOwnedByTheApplicationAndFreesItAfterwards) {
  HostLinkRegistryGuard registry(testing::kHostLinkValues);
  HostedBand band;
  gui::TApplication& application = gui::Application();
  const int components = application.ComponentCount();
  bool found = false;
  bool owned_by_application = false;
  std::string version;
  SoonOnThisThread([&] {
    HWND window = testing::FindOwnWindow("About");
    auto* box = dynamic_cast<TAboutBox*>(gui::TControl::FromHandle(window));
    found = box != nullptr && IsWindowVisible(window);
    if (box == nullptr) {
      if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
      return;
    }
    owned_by_application = box->Owner() == &application;
    version = box->lblVersion->Caption();
    // Enter chooses the default OK button.
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
  });
  MenuChoice menu;
  menu.choose = "About Tessera";
  OpenPopup(band.PanelWindow());
  EXPECT_TRUE(found);
  EXPECT_TRUE(owned_by_application);
  EXPECT_EQ(version, "v7.0.02 Build 118");
  EXPECT_EQ(application.ComponentCount(), components);
  EXPECT_EQ(testing::FindOwnWindow("About"), nullptr);
}

}  // namespace
}  // namespace vellum::band
