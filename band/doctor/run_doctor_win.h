// The doctor as rundll32 runs it: the command line in, the findings out (to
// a file, or in a message box), a fix only when the command line names one.
#pragma once

#include <string>

#include "band/doctor/doctor_fixes_win.h"

namespace vellum::band {

// The message box's title: the band's name as the Toolbars menu shows it.
inline constexpr char kDoctorTitle[] = "Vellum Tessera 7";

// 0: nothing to fix; 1: findings; 2: the doctor itself failed or did not
// understand the command line. Never raises.
int RunDoctor(const std::string& command_line, const DoctorModule& module);

}  // namespace vellum::band
