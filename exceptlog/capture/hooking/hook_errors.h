// The failures of the hooking primitives, with the texts callers and reports
// rely on.
#pragma once

#include <string>
#include <string_view>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EHookError, Exception);
VELLUM_EXCEPTION_CLASS(EProcNull, EHookError);
VELLUM_EXCEPTION_CLASS(EHookingError, EHookError);
VELLUM_EXCEPTION_CLASS(ESharedArea, EHookError);

// "Cannot hook a null procedure ("<description>")."
EProcNull NullProcedureError(std::string_view description);
// "Cannot hook the module "<file name>" located into the shared-area."
ESharedArea SharedAreaError(std::string_view module_file_name);
// "Cannot hook the procedure "<description>"."
EHookingError HookingError(std::string_view description);
// "Cannot hook the procedure "<description>": <reason>.", for a refusal that
// lies in where the procedure is, not in its code.
EHookingError HookingError(std::string_view description, std::string_view reason);

}  // namespace vellum::exceptlog
