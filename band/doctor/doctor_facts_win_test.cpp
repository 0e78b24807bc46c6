// Each thing that keeps the band from showing, made for real in the test
// session's private prefix (the band registered by regsvr32, then broken the
// way users break it), gathered from the machine and named with its fix.
#include "band/doctor/doctor_facts_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <vector>

#include "band/doctor/desktop_facts_win.h"
#include "band/doctor/doctor_fixes_win.h"
#include "band/doctor/doctor_test_support_win.h"
#include "band/doctor/module_bits.h"
#include "band/doctor/run_doctor_win.h"
#include "band/testing/host_link_guard_win.h"
#include "runtime/gui/testing/message_box_watcher_win.h"

namespace vellum::band {
namespace {

using namespace testing;

constexpr Bits kOwnBits = sizeof(void*) == 8 ? Bits::k64 : Bits::k32;
constexpr char kCacheRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Discardable\\PostSetup\\";
// The desk band category's cache for Explorer's view, which is this test's.
const std::string kCacheKey = std::string(kCacheRoot) +
                              (kOwnBits == Bits::k64 ? "Component Categories64" : "Component Categories") +
                              "\\{00021492-0000-0000-C000-000000000046}\\Enum";

const ViewRegistration& ExplorersView(const DoctorFacts& facts) {
  return facts.windows == Bits::k64 ? facts.view64 : facts.view32;
}

std::vector<DoctorAction> Actions(const std::vector<Finding>& findings) {
  std::vector<DoctorAction> actions;
  for (const Finding& finding : findings) actions.push_back(finding.action);
  return actions;
}

class DoctorOnThisMachine : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    ForgetEveryRegistration();
    RegDeleteTreeA(HKEY_CURRENT_USER, kCacheKey.c_str());
  }
};

TEST_F(DoctorOnThisMachine, AHealthyRegistrationShownAndDockedHasNoFinding) {
  ASSERT_EQ(Regsvr32(), 0u);
  DoctorFacts facts = GatherDoctorFacts();
  EXPECT_EQ(facts.windows, kOwnBits);
  const ViewRegistration& view = ExplorersView(facts);
  EXPECT_TRUE(view.class_registered);
  EXPECT_EQ(view.dll_path, ShortPath(ProductDllPath()));
  EXPECT_TRUE(view.file_exists);
  EXPECT_EQ(view.file_bits, kOwnBits) << "read from the DLL's own header";
  EXPECT_TRUE(view.in_band_category);
  EXPECT_TRUE(view.approved);
  EXPECT_FALSE(facts.category_cache_stale);
  EXPECT_FALSE(facts.toolbars_forbidden);
  EXPECT_TRUE(facts.taskbar_hosts_bands) << "Wine's hidden tray window is no taskbar";
  // Registered, not shown: the one step left is the user's.
  EXPECT_EQ(Diagnose(facts).size(), 1u);

  // A band form that published itself, and Vellum's hidden window.
  HostLinkRegistryGuard host_link;
  const win::UniqueWindow band(MakeWindow("TVellumForm", "", WS_POPUP));
  const win::UniqueWindow vellum(MakeWindow("TfrmVellumHidden", "Hidden Vellum Window", WS_POPUP));
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("BarHandle", PublishedText(band.get())));
  facts = GatherDoctorFacts();
  EXPECT_TRUE(facts.band_live);
  EXPECT_FALSE(facts.panel_live);
  EXPECT_TRUE(facts.vellum_running);
  EXPECT_EQ(FormatFindings(Diagnose(facts)), "The band is registered, shown and docked: nothing to fix.\r\n");
}

TEST_F(DoctorOnThisMachine, ARegisteredDllThatIsGoneCallsForRegisteringAgain) {
  const std::string folder = TempFolder() + "vellum-doctor-" + std::to_string(GetCurrentProcessId());
  const std::string copy = folder + "\\VellumDeskBand.dll";
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(ProductDllPath().c_str(), copy.c_str(), FALSE));
  ASSERT_EQ(RunAndWait("regsvr32.exe /s \"" + copy + "\""), 0u);
  const std::string registered = ShortPath(copy);
  ASSERT_TRUE(DeleteFileA(copy.c_str()));
  RemoveDirectoryA(folder.c_str());

  const DoctorFacts facts = GatherDoctorFacts();
  EXPECT_TRUE(ExplorersView(facts).class_registered);
  EXPECT_EQ(ExplorersView(facts).dll_path, registered);
  EXPECT_FALSE(ExplorersView(facts).file_exists);
  EXPECT_FALSE(ExplorersView(facts).file_bits);
  const auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].problem, "The registered DLL is missing: " + registered + ".");
  EXPECT_EQ(findings[0].action, DoctorAction::kRegister);
}

TEST_F(DoctorOnThisMachine, NoApprovedEntryCallsForRegisteringAgain) {
  ASSERT_EQ(Regsvr32(), 0u);
  HKEY approved = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE | OwnView(), &approved), ERROR_SUCCESS);
  const win::UniqueRegKey owner(approved);
  ASSERT_EQ(RegDeleteValueA(approved, kDeskBandClsid), ERROR_SUCCESS);

  const DoctorFacts facts = GatherDoctorFacts();
  EXPECT_TRUE(ExplorersView(facts).in_band_category);
  EXPECT_FALSE(ExplorersView(facts).approved);
  const auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].problem, "The band is not among the shell's approved extensions.");
  EXPECT_EQ(findings[0].action, DoctorAction::kRegister);
}

TEST_F(DoctorOnThisMachine, TheToolbarPolicyOfUserOrMachineIsNamedForTheAdministrator) {
  ASSERT_EQ(Regsvr32(), 0u);
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    SCOPED_TRACE(root == HKEY_CURRENT_USER ? "the user's policy" : "the machine's policy");
    {
      const ScopedDwordValue off(root, OwnView(), kPoliciesKey, "NoToolbarsOnTaskbar", 0);
      EXPECT_FALSE(GatherDoctorFacts().toolbars_forbidden) << "a zero allows them";
    }
    const ScopedDwordValue on(root, OwnView(), kPoliciesKey, "NoToolbarsOnTaskbar", 1);
    const auto findings = Diagnose(GatherDoctorFacts());
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].problem, "A policy hides the taskbar's toolbars.");
    EXPECT_EQ(findings[0].action, DoctorAction::kNone) << "the doctor does not overrule an administrator";
  }
}

// The shell's cached list of desk bands, as it writes it: header size,
// version, the time written, the count, then the classes.
void WriteCategoryCache(const std::vector<std::string>& classes) {
  std::vector<std::uint8_t> value(28);
  const auto put32 = [&value](std::size_t at, std::uint32_t number) {
    for (int i = 0; i < 4; ++i) value[at + i] = static_cast<std::uint8_t>(number >> (8 * i));
  };
  put32(0, 28);
  put32(4, 1);
  put32(24, static_cast<std::uint32_t>(classes.size()));
  for (const std::string& text : classes) {
    std::wstring wide(text.begin(), text.end());
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(wide.c_str(), &id), S_OK) << text;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&id);
    value.insert(value.end(), bytes, bytes + sizeof id);
  }
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kCacheKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  const win::UniqueRegKey key(raw);
  ASSERT_EQ(RegSetValueExA(raw, "Implementing", 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size())),
            ERROR_SUCCESS);
}

TEST_F(DoctorOnThisMachine, ACacheThatLeavesTheBandOutIsStaleUntilCleared) {
  constexpr char kOtherBand[] = "{1C5A3B2D-0F4E-4A6B-8C7D-9E0F1A2B3C4D}";
  ASSERT_EQ(Regsvr32(), 0u);
  WriteCategoryCache({kOtherBand});
  DoctorFacts facts = GatherDoctorFacts();
  EXPECT_TRUE(facts.category_cache_stale);
  EXPECT_EQ(Actions(Diagnose(facts)), std::vector<DoctorAction>{DoctorAction::kClearCategoryCache});

  WriteCategoryCache({kOtherBand, kDeskBandClsid});
  EXPECT_FALSE(GatherDoctorFacts().category_cache_stale) << "a cache written after the registration";

  WriteCategoryCache({kOtherBand});
  EXPECT_EQ(ClearCategoryCache(), "Cleared the shell's cached list of desk bands; sign out and in again.");
  HKEY gone = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kCacheKey.c_str(), 0, KEY_READ, &gone), ERROR_SUCCESS);
  EXPECT_FALSE(GatherDoctorFacts().category_cache_stale);
  EXPECT_EQ(ClearCategoryCache(), "The shell keeps no cached list of desk bands.");

  // A band that is not in the category is that finding, not a stale cache.
  WriteCategoryCache({kOtherBand});
  ForgetEveryRegistration();
  EXPECT_FALSE(GatherDoctorFacts().category_cache_stale);
}

TEST_F(DoctorOnThisMachine, AShownTaskbarWithoutARebarCallsForThePanel) {
  ASSERT_EQ(Regsvr32(), 0u);
  // The taskbar the demo's no-band-site mode plays: a notification area, no rebar.
  const win::UniqueWindow taskbar(MakeWindow("Shell_TrayWnd", "", WS_POPUP | WS_VISIBLE));
  MakeWindow("TrayNotifyWnd", "", WS_CHILD | WS_VISIBLE, taskbar.get());
  EXPECT_FALSE(TaskbarHostsBands());
  auto findings = Diagnose(GatherDoctorFacts());
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].problem, "This taskbar shows no desk bands.");
  EXPECT_EQ(findings[0].action, DoctorAction::kStartPanel);

  // A rebar anywhere inside it, as the shell nests it, gives bands a home.
  const HWND frame = MakeWindow("ReBarFrame", "", WS_CHILD | WS_VISIBLE, taskbar.get());
  const HWND rebar = MakeWindow("ReBarWindow32", "", WS_CHILD | WS_VISIBLE, frame);
  EXPECT_TRUE(TaskbarHostsBands());
  DestroyWindow(rebar);
  ShowWindow(taskbar.get(), SW_HIDE);
  EXPECT_TRUE(TaskbarHostsBands()) << "a hidden tray window shows no taskbar";
}

// The doctor's own logic in this process, with a registration that fails as
// it does for a user without the rights to write the machine's keys.
DoctorModule FailingModule() {
  return {ProductDllPath(), kOwnBits, [] { return E_ACCESSDENIED; }};
}

TEST_F(DoctorOnThisMachine, WithoutAFileTheFindingsShowInABoxThatNamesTheFixCommand) {
  gui::testing::MessageBoxWatcher watcher(kDoctorTitle);
  EXPECT_EQ(RunDoctor("", FailingModule()), 1);
  ASSERT_EQ(watcher.Count(), 1);
  std::string text;
  for (const std::string& part : watcher.Texts()) text += part + "\n";
  EXPECT_NE(text.find("The band is not registered."), std::string::npos) << text;
  EXPECT_NE(text.find("\" \"" + ProductDllPath() + "\",Doctor /fix register"), std::string::npos) << text;
}

TEST_F(DoctorOnThisMachine, AFixThatFailsIsReportedAndNothingElse) {
  const std::string out = TempFolder() + "vellum-doctor-fails-" + std::to_string(GetCurrentProcessId()) + ".txt";
  EXPECT_EQ(RunDoctor("/fix register /out \"" + out + "\"", FailingModule()), 2);
  const std::string text = ReadWholeFile(out);
  DeleteFileA(out.c_str());
  EXPECT_EQ(text.rfind("The doctor failed: Registering " + ProductDllPath() + " failed (0x80070005)", 0), 0u) << text;
  EXPECT_EQ(text.find("\r\n"), text.size() - 2) << "one line, no findings after a failed fix";
}

std::optional<Bits> FileBits(const std::string& path) {
  const std::string bytes = ReadWholeFile(path);
  return ModuleBits(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(DoctorFixes, ThePanelStartsInARundll32OfTheDllsBitness) {
  EXPECT_EQ(FileBits(RundllFor(kOwnBits, WindowsBits())), kOwnBits);
  if (WindowsBits() == Bits::k64) {
    EXPECT_EQ(FileBits(RundllFor(Bits::k32, Bits::k64)), Bits::k32);
  }
}

#ifdef VELLUM_WIN32_BIN_DIR_TEXT
// What a user sees who registered only the 32-bit DLL on 64-bit Windows:
// 32-bit hosts find the band, Explorer does not.
TEST_F(DoctorOnThisMachine, Only32BitRegisteredSeenByA64BitHostCallsForRegisteringThe64BitDll) {
  std::string dll32 = VELLUM_WIN32_BIN_DIR_TEXT "/VellumDeskBand.dll";
  for (char& c : dll32) c = c == '/' ? '\\' : c;
  ASSERT_EQ(Regsvr32Wow64(dll32), 0u);
  DoctorFacts facts = GatherDoctorFacts();
  ASSERT_EQ(facts.windows, Bits::k64);
  EXPECT_TRUE(facts.view32.class_registered);
  EXPECT_EQ(facts.view32.file_bits, Bits::k32);
  EXPECT_TRUE(facts.view32.in_band_category);
  EXPECT_TRUE(facts.view32.approved);
  EXPECT_FALSE(facts.view64.class_registered);
  EXPECT_FALSE(facts.view64.approved);
  auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].problem, "Only the 32-bit band is registered; the 64-bit Explorer loads only 64-bit DLLs.");
  EXPECT_EQ(findings[0].action, DoctorAction::kRegister);

  ASSERT_EQ(Regsvr32(), 0u);
  facts = GatherDoctorFacts();
  EXPECT_EQ(facts.view64.file_bits, Bits::k64);
  EXPECT_EQ(Actions(Diagnose(facts)), std::vector<DoctorAction>{DoctorAction::kNone}) << "only the menu tick is left";
}
#endif

}  // namespace
}  // namespace vellum::band
