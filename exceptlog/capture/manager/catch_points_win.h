// The exception classes of the C runtime's last resorts, as the catch points
// report them.
#pragma once

#include <cstdint>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EAbstractError, Exception);       // a pure virtual call
VELLUM_EXCEPTION_CLASS(EInvalidArgument, Exception);     // an invalid parameter to a C runtime function
VELLUM_EXCEPTION_CLASS(EProgramTermination, Exception);  // abort() or std::terminate without an exception

// The handler the catch points give the C runtime for invalid parameters,
// where its msvcrt.dll offers the setter (Windows from Vista on; not Wine's):
// reports, then the C runtime function returns its error.
void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file, unsigned line,
                                std::uintptr_t reserved);

}  // namespace vellum::exceptlog
