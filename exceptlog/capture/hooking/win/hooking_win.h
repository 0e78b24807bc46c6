// Start and stop of the hooking primitives, with the module: start creates
// the records of hooked procedures, imports and method slots; stop undoes
// every change they hold. Failures are reported under "EHook.Init" and
// "EHook.Done" and raised as the critical error.
#pragma once

namespace vellum::exceptlog {

void StartHooking();
// Restores every hooked import entry, then every method slot, then every
// procedure's first bytes, each last hooked first. A change that cannot be
// undone does not keep the others from being undone.
void StopHooking();
bool HookingStarted();

}  // namespace vellum::exceptlog
