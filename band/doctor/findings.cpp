#include "band/doctor/findings.h"

namespace vellum::band {

namespace {

const char* BitsName(Bits bits) {
  return bits == Bits::k64 ? "64-bit" : "32-bit";
}

// The registration Explorer reads: the view of its own bitness.
const ViewRegistration& ExplorersView(const DoctorFacts& facts) {
  return facts.windows == Bits::k64 ? facts.view64 : facts.view32;
}

void CheckExplorersView(const DoctorFacts& facts, std::vector<Finding>& findings) {
  const ViewRegistration& view = ExplorersView(facts);
  const std::string explorer = BitsName(facts.windows);
  if (!view.class_registered) {
    if (facts.windows == Bits::k64 && facts.view32.class_registered) {
      findings.push_back({"Only the 32-bit band is registered; the 64-bit Explorer loads only 64-bit DLLs.",
                          "Register the 64-bit VellumDeskBand.dll with System32's regsvr32.", DoctorAction::kRegister});
    } else {
      findings.push_back(
          {"The band is not registered.", "Register VellumDeskBand.dll with regsvr32.", DoctorAction::kRegister});
    }
    return;
  }
  if (!view.file_exists) {
    findings.push_back({"The registered DLL is missing: " + view.dll_path + ".",
                        "Register VellumDeskBand.dll again from where it is now.", DoctorAction::kRegister});
    return;
  }
  if (view.file_bits && *view.file_bits != facts.windows) {
    findings.push_back({"The DLL registered for the " + explorer + " Explorer is " + BitsName(*view.file_bits) + ": " +
                            view.dll_path + ".",
                        "Register the " + explorer + " VellumDeskBand.dll with the " + explorer + " regsvr32.",
                        DoctorAction::kRegister});
    return;
  }
  if (!view.in_band_category) {
    findings.push_back({"The band is registered without the desk band category.",
                        "Register VellumDeskBand.dll again with regsvr32.", DoctorAction::kRegister});
  }
  if (!view.approved) {
    findings.push_back({"The band is not among the shell's approved extensions.",
                        "Register VellumDeskBand.dll again with regsvr32.", DoctorAction::kRegister});
  }
}

}  // namespace

std::vector<Finding> Diagnose(const DoctorFacts& facts) {
  std::vector<Finding> findings;
  if (!facts.taskbar_hosts_bands) {
    // No registration can help: the panel can.
    if (!facts.panel_live) {
      findings.push_back({"This taskbar shows no desk bands.",
                          "Start the taskbar panel: rundll32 VellumDeskBand.dll,TaskbarPanel.",
                          DoctorAction::kStartPanel});
    }
  } else {
    CheckExplorersView(facts, findings);
    if (findings.empty() && facts.category_cache_stale) {
      findings.push_back({"The shell's cached list of desk bands does not include the band.",
                          "Clear the category cache, then sign out and in again.", DoctorAction::kClearCategoryCache});
    }
    if (facts.toolbars_forbidden) {
      findings.push_back(
          {"A policy hides the taskbar's toolbars.", "Ask your administrator to allow taskbar toolbars."});
    }
    if (findings.empty() && !facts.band_live && !facts.panel_live) {
      findings.push_back({"The band is registered but not shown.",
                          "Right-click the taskbar, open Toolbars and tick \"Vellum Tessera 7\"."});
    }
  }
  if ((facts.band_live || facts.panel_live) && !facts.vellum_running) {
    findings.push_back({"Vellum is not running: the band has nothing to dock.", "Start Vellum."});
  }
  return findings;
}

std::string FormatFindings(const std::vector<Finding>& findings) {
  if (findings.empty()) return "The band is registered, shown and docked: nothing to fix.\r\n";
  std::string text;
  for (const Finding& finding : findings) text += finding.problem + " Fix: " + finding.fix + "\r\n";
  return text;
}

}  // namespace vellum::band
