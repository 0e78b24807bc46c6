#include "band/doctor/findings.h"

#include <gtest/gtest.h>

namespace vellum::band {
namespace {

ViewRegistration Healthy(Bits bits) {
  return {true, bits == Bits::k64 ? "C:\\Vellum\\x64\\VellumDeskBand.dll" : "C:\\Vellum\\VellumDeskBand.dll",
          true, bits,
          true, true};
}

// A 64-bit Windows with both DLLs registered, the band shown and Vellum up.
DoctorFacts HealthyFacts() {
  DoctorFacts facts;
  facts.view32 = Healthy(Bits::k32);
  facts.view64 = Healthy(Bits::k64);
  facts.band_live = true;
  facts.vellum_running = true;
  return facts;
}

TEST(DoctorFindings, AHealthySetUpSaysSo) {
  EXPECT_TRUE(Diagnose(HealthyFacts()).empty());
  EXPECT_EQ(FormatFindings({}), "The band is registered, shown and docked: nothing to fix.\r\n");
  // 32-bit Windows reads only its one view; what the other holds is no matter.
  DoctorFacts facts = HealthyFacts();
  facts.windows = Bits::k32;
  facts.view64 = {};
  EXPECT_TRUE(Diagnose(facts).empty());
}

TEST(DoctorFindings, ExplorersOwnViewDecidesAndTheFirstBrokenLinkIsNamed) {
  DoctorFacts facts = HealthyFacts();
  facts.band_live = false;
  facts.view64 = {};
  auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u) << "the rest follows from the missing registration";
  EXPECT_NE(findings[0].problem.find("Only the 32-bit band is registered"), std::string::npos);
  EXPECT_EQ(findings[0].action, DoctorAction::kRegister);

  facts.view32 = {};
  EXPECT_EQ(Diagnose(facts)[0].problem, "The band is not registered.");

  facts.view64 = Healthy(Bits::k64);
  facts.view64.file_exists = false;
  findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].problem, "The registered DLL is missing: C:\\Vellum\\x64\\VellumDeskBand.dll.");

  facts.view64.file_exists = true;
  facts.view64.file_bits = Bits::k32;
  findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_NE(findings[0].problem.find("for the 64-bit Explorer is 32-bit"), std::string::npos);
  // An unreadable header is not taken for the wrong bitness.
  facts.view64.file_bits.reset();
  EXPECT_EQ(Diagnose(facts)[0].problem, "The band is registered but not shown.");

  // Category and approval are separate steps of a registration: both named.
  facts.view64 = Healthy(Bits::k64);
  facts.view64.in_band_category = false;
  facts.view64.approved = false;
  findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].problem, "The band is registered without the desk band category.");
  EXPECT_EQ(findings[1].problem, "The band is not among the shell's approved extensions.");
}

TEST(DoctorFindings, CacheAndPolicyAndTheMenuTick) {
  DoctorFacts facts = HealthyFacts();
  facts.band_live = false;
  facts.category_cache_stale = true;
  facts.toolbars_forbidden = true;
  const auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 2u) << "with the cache stale, ticking the menu cannot help yet";
  EXPECT_EQ(findings[0].action, DoctorAction::kClearCategoryCache);
  EXPECT_EQ(findings[1].problem, "A policy hides the taskbar's toolbars.");
  EXPECT_EQ(FormatFindings(findings),
            "The shell's cached list of desk bands does not include the band. Fix: Clear the category cache, then "
            "sign out and in again.\r\nA policy hides the taskbar's toolbars. Fix: Ask your administrator to allow "
            "taskbar toolbars.\r\n");

  facts.category_cache_stale = false;
  facts.toolbars_forbidden = false;
  EXPECT_EQ(Diagnose(facts)[0].fix, "Right-click the taskbar, open Toolbars and tick \"Vellum Tessera 7\".");
  facts.panel_live = true;
  EXPECT_TRUE(Diagnose(facts).empty()) << "the panel shows the band instead";
}

TEST(DoctorFindings, ATaskbarWithoutBandSupportNeedsThePanelNotARegistration) {
  DoctorFacts facts = HealthyFacts();
  facts.taskbar_hosts_bands = false;
  facts.band_live = false;
  facts.view64 = {};  // no registration finding: none would help
  auto findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].action, DoctorAction::kStartPanel);

  facts.panel_live = true;
  facts.vellum_running = false;
  findings = Diagnose(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].fix, "Start Vellum.");
}

}  // namespace
}  // namespace vellum::band
