// The exception classes of the C runtime's last resorts, as the catch points
// report them.
#pragma once

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EAbstractError, Exception);       // a pure virtual call
VELLUM_EXCEPTION_CLASS(EInvalidArgument, Exception);     // an invalid parameter to a C runtime function
VELLUM_EXCEPTION_CLASS(EProgramTermination, Exception);  // abort() or std::terminate without an exception

}  // namespace vellum::exceptlog
