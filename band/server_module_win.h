// The DLL as the shell sees it: the four COM entry points, the server state
// they build on first use (never at load), and the process attach and detach
// actions. Every entry point runs inside the COM boundary.
#pragma once

#include <objbase.h>

#include "band/fpu_control_win.h"

namespace vellum::band {

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** object);
HRESULT ServerCanUnloadNow();
HRESULT ServerRegister();
HRESULT ServerUnregister();

// Process attach: saves the floating-point control word and sets 0x133F (every
// x87 exception masked); in a 64-bit process also the SSE control register,
// set to 0x1F80 (every SSE exception masked, round to nearest).
void ProcessAttach();
// Process detach: restores the control word(s), then ServerShutdown.
// `process_ending` is DllMain's "the process is terminating".
void ProcessDetach(bool process_ending = false);
// Tears the server state down in its documented order, if it was built; only
// what is safe under the loader lock. The next entry point call builds anew.
void ServerShutdown(bool process_ending = false);

// The band forms still held, then the hooks, the cross-thread call window and
// the window classes they ran on. Part of the tear-down; the taskbar panel,
// which runs band forms without the server, ends with it too.
void TearDownBandForms();

// Whether the server state is built (tests).
bool ServerInitialised();

}  // namespace vellum::band
