// The exception subsystem in the band's own module: started when the module
// is loaded, before any of its code can raise, and stopped when it unloads.
// It reports what escapes the band's message handlers, its threads and its
// COM methods (as safecall exceptions, once, before the method answers its
// fixed result); the shell that hosts the band lives on.
#pragma once

#include <windows.h>

namespace vellum::band {

// Process attach: starts the subsystem for `module`. A failed start leaves
// the band working without it.
void StartBandExceptionLog(HINSTANCE module) noexcept;
// The end of process attach: the module's own start is over.
void BandModuleInitialized() noexcept;
// A long-running entry point (the taskbar panel) runs, outside the loader
// lock: the reports' machine facts are gathered ahead now (once), not at the
// first report. Not from the COM entry points: the gathering thread holds
// the module, and a shell that frees the band at once would then run its
// unload on that thread, away from the band's windows.
void BandRunsOutsideLoaderLock() noexcept;
// Process detach, first and last.
void BandModuleFinalizing() noexcept;
void StopBandExceptionLog() noexcept;

}  // namespace vellum::band
