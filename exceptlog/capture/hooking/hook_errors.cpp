#include "exceptlog/capture/hooking/hook_errors.h"

namespace vellum::exceptlog {

EProcNull NullProcedureError(std::string_view description) {
  return EProcNull("Cannot hook a null procedure (\"" + std::string(description) + "\").");
}

ESharedArea SharedAreaError(std::string_view module_file_name) {
  return ESharedArea("Cannot hook the module \"" + std::string(module_file_name) + "\" located into the shared-area.");
}

EHookingError HookingError(std::string_view description) {
  return EHookingError("Cannot hook the procedure \"" + std::string(description) + "\".");
}

EHookingError HookingError(std::string_view description, std::string_view reason) {
  return EHookingError("Cannot hook the procedure \"" + std::string(description) + "\": " + std::string(reason) + ".");
}

}  // namespace vellum::exceptlog
