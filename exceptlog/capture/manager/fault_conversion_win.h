// Operating-system exceptions raised in this module's code become language
// exceptions of the system's classes (EAccessViolation, EDivByZero, ...),
// thrown at the fault: a vectored handler records the processor context,
// then lets the faulting thread go on in a procedure that throws, with the
// faulting instruction as its caller. The same catch points then handle
// them, and the host process survives a fault in the band. Faults outside
// the module's code are left to whoever handles them now.
//
// The module is compiled with -fnon-call-exceptions, so the unwinder finds a
// handler for a faulting instruction as it would for a call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

namespace vellum::exceptlog {

// Installs the vectored handler for faults in [code_start, code_end).
void StartFaultConversion(std::uintptr_t code_start, std::uintptr_t code_end);
void StopFaultConversion();
bool FaultConversionActive();

// The exception the system's record stands for, as the runtime would raise
// it: class by code, message with address and module where it has them.
[[noreturn]] void ThrowFault(const EXCEPTION_RECORD& record);
std::exception_ptr ExceptionFromFault(const EXCEPTION_RECORD& record);
// A stack overflow leaves its thread too little stack to report from: the
// conversion hands the faulting thread's raise state to `reporter`, which
// reports it from another thread and returns when done. The exception
// thrown at the fault afterwards is not reported again.
using StackOverflowReporter = void (*)(struct TRaiseState& faulting_thread);
void SetStackOverflowReporter(StackOverflowReporter reporter);

// Whether a code is one the conversion takes.
bool IsConvertedFaultCode(DWORD code);

}  // namespace vellum::exceptlog
