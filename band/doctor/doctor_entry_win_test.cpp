// The built DLL's "Doctor" entry driven through the system's rundll32, as a
// user or a support script runs it: the findings in the file "/out" names,
// and a change only when "/fix" asks for one.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "band/doctor/doctor_test_support_win.h"

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

}  // namespace
}  // namespace vellum::band
