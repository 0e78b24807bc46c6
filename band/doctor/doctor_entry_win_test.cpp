// The built DLL's "Doctor" entry driven through the system's rundll32, as a
// user or a support script runs it: the findings in the file "/out" names,
// and a change only when "/fix" asks for one.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "band/doctor/doctor_test_support_win.h"
#include "band/published_bar_win.h"
#include "band/testing/host_link_guard_win.h"
#include "runtime/gui/testing/message_wait_win.h"

namespace vellum::band {
namespace {

using namespace testing;

std::string Rundll32() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\rundll32.exe";
}

class DoctorEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    ForgetEveryRegistration();
    DeleteFileA(out_.c_str());
  }
  void TearDown() override {
    ForgetEveryRegistration();
    DeleteFileA(out_.c_str());
  }

  // The file's text after one run of the entry with `arguments`.
  std::string RunDoctor(const std::string& arguments) {
    DeleteFileA(out_.c_str());
    const DWORD exit_code = RunAndWait("\"" + Rundll32() + "\" \"" + ProductDllPath() + "\",Doctor " + arguments);
    EXPECT_NE(exit_code, ~0u) << "rundll32 did not end";
    return ReadWholeFile(out_);
  }

  bool ClassRegistered() const {
    HKEY key = nullptr;
    const std::string path = std::string("CLSID\\") + kDeskBandClsid + "\\InprocServer32";
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | OwnView(), &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  const std::string out_ = TempFolder() + "vellum-doctor-" + std::to_string(GetCurrentProcessId()) + " out.txt";
};

TEST_F(DoctorEntry, WritesTheFindingsAndChangesNothingUnlessAFixIsNamed) {
  EXPECT_EQ(RunDoctor("/out \"" + out_ + "\""),
            "The band is not registered. Fix: Register VellumDeskBand.dll with regsvr32.\r\n");
  EXPECT_FALSE(ClassRegistered()) << "looking is all the doctor does unasked";

  const std::string fixed = RunDoctor("/fix register /out \"" + out_ + "\"");
  EXPECT_TRUE(ClassRegistered());
  const std::string registered_line = fixed.substr(0, fixed.find("\r\n"));
  EXPECT_EQ(registered_line.rfind("Registered ", 0), 0u) << fixed;
  EXPECT_NE(registered_line.find("VellumDeskBand.dll."), std::string::npos) << fixed;
  EXPECT_EQ(fixed.substr(registered_line.size()),
            "\r\nThe band is registered but not shown. Fix: Right-click the taskbar, open Toolbars and tick \"Vellum "
            "Tessera 7\".\r\n")
      << "the findings gathered after the fix";
}

TEST_F(DoctorEntry, AMistakeInTheCommandLineGoesToTheFileInsteadOfAFix) {
  EXPECT_EQ(RunDoctor("/fix everything /out \"" + out_ + "\""),
            "The doctor did not run: Unknown fix \"everything\": use register, cache or panel.\r\n");
  EXPECT_FALSE(ClassRegistered());
}

// Ends the panel the doctor started (it is no child of ours): asked to
// close, and ended when it does not.
class PanelCloser {
 public:
  PanelCloser() = default;
  ~PanelCloser() {
    const HWND panel = FindWindowA(kTaskbarPanelClass, nullptr);
    if (panel == nullptr) return;
    DWORD process_id = 0;
    GetWindowThreadProcessId(panel, &process_id);
    const win::UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process_id));
    PostMessageA(panel, WM_CLOSE, 0, 0);
    const bool ended =
        gui::testing::PumpUntil([&] { return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; },
                                gui::testing::kGenerousWaitMs);
    if (!ended) TerminateProcess(process.get(), 1);
  }
  PanelCloser(const PanelCloser&) = delete;
  PanelCloser& operator=(const PanelCloser&) = delete;
};

TEST_F(DoctorEntry, OnATaskbarWithoutBandsThePanelFixStartsThePanel) {
  const HostLinkRegistryGuard host_link;  // the panel publishes its band form
  // A taskbar along the screen's foot with its notification area, no rebar.
  const win::UniqueWindow taskbar(MakeWindow("Shell_TrayWnd", "", WS_POPUP | WS_VISIBLE));
  MoveWindow(taskbar.get(), 0, 760, 1280, 40, TRUE);
  const HWND notify = MakeWindow("TrayNotifyWnd", "", WS_CHILD | WS_VISIBLE, taskbar.get());
  MoveWindow(notify, 1130, 0, 150, 40, TRUE);
  const std::string before = RunDoctor("/out \"" + out_ + "\"");
  EXPECT_EQ(before,
            "This taskbar shows no desk bands. Fix: Start the taskbar panel: rundll32 "
            "VellumDeskBand.dll,TaskbarPanel.\r\n");

  const PanelCloser closer;
  const std::string fixed = RunDoctor("/fix panel /out \"" + out_ + "\"");
  EXPECT_EQ(fixed.substr(0, fixed.find("\r\n")), "Started the taskbar panel.");
  ASSERT_TRUE(gui::testing::PumpUntil([] { return FindPublishedBar().host == BarHost::kTaskbarPanel; },
                                      gui::testing::kGenerousWaitMs))
      << "the panel's band form never published itself";
  EXPECT_EQ(RunDoctor("/out \"" + out_ + "\""),
            "Vellum is not running: the band has nothing to dock. Fix: Start Vellum.\r\n")
      << "the panel shows the band now";
}

}  // namespace
}  // namespace vellum::band
