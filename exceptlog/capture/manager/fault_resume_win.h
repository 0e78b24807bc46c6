// The code a converted fault goes on in, as if the faulting instruction had
// called it: it throws the fault's exception (fault_conversion_win.cpp).
// Each architecture has a file of its own.
#pragma once

#include <cstdint>

namespace vellum::exceptlog {

std::uintptr_t FaultResumeEntry();

}  // namespace vellum::exceptlog
