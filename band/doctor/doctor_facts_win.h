// Everything the doctor decides on, gathered from this machine as it is now.
// Reads only: nothing is changed, and nothing missing is an error.
#pragma once

#include "band/doctor/findings.h"

namespace vellum::band {

DoctorFacts GatherDoctorFacts();

}  // namespace vellum::band
