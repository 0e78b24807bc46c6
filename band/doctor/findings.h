// What the doctor concludes from what it found on the machine: one finding
// per thing that keeps the band from showing, each with the one step that
// fixes it. Pure decisions on gathered facts, so that every combination is
// tested without a registry; gathering them is Win32 and lives apart.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vellum::band {

enum class Bits { k32, k64 };

// The band's registration as one registry view holds it (64-bit Windows has
// two: the 64-bit view and the 32-bit one under Wow6432Node).
struct ViewRegistration {
  bool class_registered = false;  // the band's class with an in-process server
  std::string dll_path;           // what the in-process server names
  bool file_exists = false;
  std::optional<Bits> file_bits;  // from the file's header; none when unreadable
  bool in_band_category = false;  // implements the desk band category
  bool approved = false;          // listed under the shell's approved extensions
};

struct DoctorFacts {
  Bits windows = Bits::k64;           // Explorer's bitness is the system's
  ViewRegistration view32;            // the only view on 32-bit Windows
  ViewRegistration view64;            // 64-bit Windows only
  bool category_cache_stale = false;  // the shell's cached category list lacks the band
  bool toolbars_forbidden = false;    // a policy hides the taskbar's toolbars
  bool taskbar_hosts_bands = true;    // false: a taskbar without band support
  bool band_live = false;             // the published handles name live windows
  bool panel_live = false;
  bool vellum_running = false;
};

// What the doctor can do about a finding when the user asks it to.
enum class DoctorAction { kNone, kRegister, kClearCategoryCache, kStartPanel };

struct Finding {
  std::string problem;  // what is wrong
  std::string fix;      // the one step that fixes it
  DoctorAction action = DoctorAction::kNone;
};

// The findings, most fundamental first: a band that is not registered for
// Explorer's bitness is the reason, whatever else is wrong. None: healthy.
std::vector<Finding> Diagnose(const DoctorFacts& facts);

// One line per finding ("<problem> Fix: <fix>"), or the one line a healthy
// set-up gets; each line ends with CR LF, as a support request's text does.
std::string FormatFindings(const std::vector<Finding>& findings);

}  // namespace vellum::band
