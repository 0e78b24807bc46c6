// Hooks on the first instructions of procedures: the procedure's start
// becomes a jump to the hook, and the hook reaches the previous behaviour
// through the returned trampoline.
#pragma once

#include <string_view>

namespace vellum::exceptlog {

// An import thunk "JMP [pointer]" (0xFF 0x25) padded with "MOV EAX, EAX"
// (0x8B 0xC0) - or with two NOPs, as GNU ld pads it - stands for the
// procedure the pointer holds. In 64-bit code the jump's operand is relative
// to its end, as every such operand is there.
const void* ResolveImportThunk(const void* address);

// Answers the trampoline. A procedure hooked already keeps its hook and
// answers its existing trampoline. Raises EProcNull for a nil procedure,
// ESharedArea for a shared-area procedure outside NT, and EHookingError for
// any other failure; `description` names the procedure in these messages.
// In a 64-bit process the trampoline is allocated within 2 GB of the
// procedure, and a hook farther away is reached through a relay beside it;
// when no memory there is free the EHookingError says so.
void* HookProcedure(const void* procedure, const void* hook, std::string_view description);

// Puts the procedure's first bytes back and frees its trampoline; answers
// whether it was hooked.
bool UnhookProcedure(const void* procedure);

}  // namespace vellum::exceptlog
