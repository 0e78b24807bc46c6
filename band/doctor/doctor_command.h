// What the user asks of the doctor on rundll32's command line
// ("/out FILE", "/fix register|cache|panel"), and the text it shows. Kept free
// of Win32 so that every form of the command line is tested natively.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "band/doctor/findings.h"

namespace vellum::band {

struct DoctorCommand {
  std::string out_path;  // empty: show the findings instead of writing them
  DoctorAction fix = DoctorAction::kNone;
  // What the command line got wrong; the doctor then only says so, in the
  // file when "/out" could still be read, so that a script never waits on a
  // message box.
  std::string usage_error;
};

// Options in any case, with '/' or '-'; a path with spaces in double quotes.
DoctorCommand ParseDoctorCommand(std::string_view command_line);

// The word after "/fix" that performs an action ("register", ...).
const char* FixOptionName(DoctorAction action);

// The findings for a person: each one, and for those the doctor can fix, the
// command that fixes it with this DLL and the rundll32 that can load it (on
// 64-bit Windows a 32-bit DLL needs SysWOW64's).
std::string DoctorMessage(const std::vector<Finding>& findings, const std::string& rundll, const std::string& dll_path);

}  // namespace vellum::band
