// The faults the crash sample programs raise on purpose, by name, and what
// they print: one "report:" line per report the subsystem makes (from the
// sample's notification component), "survived" when the program lives on.
#pragma once

#include <windows.h>

#include <string>

namespace vellum::crash_sample {

// Writes one line to standard output (unbuffered: the program may end hard).
void PrintLine(const std::string& line);

// The notification component that prints each report; made once the
// subsystem has started.
void InstallReportPrinter();

// The module's pipeline steps, plus: with CRASH_SAMPLE_REPORT_DIR naming a
// folder, every full report is written there as "<module>-report-N.txt" for
// tests to read.
void InstallPipelineSteps();

// Starts the subsystem for this program, as a module's initialisation does.
void StartSubsystem(bool console);

// With CRASH_SAMPLE_START_LOG naming a file, appends this process's command
// line to it and answers whether an earlier start is already there: a
// program restarted by the subsystem then ends quietly instead of raising
// its fault again (and being restarted again).
bool NoteStartAndSeeRestart();

// Raises the named fault in the calling thread; `argument` is the number of
// `freeze SECONDS` and `burst N`. Exceptions escape to the caller's catch
// point. False for an unknown name.
bool RaiseFault(const std::string& name, int argument);

// The main thread busy for `seconds` in a procedure of its own, so that a
// report of the hang names it as the place where the program hangs.
void Freeze(int seconds);
// "freeze-switch SECONDS": the watchdog switched off through the running
// module's FreezeCheck for one freeze, then on for another. False for any
// other name.
bool RaiseFreezeFault(const std::string& name, int argument);

// The names RaiseFault knows, for the usage text.
const char* FaultNames();

}  // namespace vellum::crash_sample
