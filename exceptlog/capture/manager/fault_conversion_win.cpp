#include "exceptlog/capture/manager/fault_conversion_win.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "exceptlog/capture/manager/fault_resume_win.h"
#include "exceptlog/capture/manager/raise_state_win.h"
#include "runtime/exception.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {

namespace {

struct ConversionRange {
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::uintptr_t> end{0};
};
ConversionRange range;
std::atomic<void*> handler_cookie{nullptr};
std::atomic<StackOverflowReporter> overflow_reporter{nullptr};

std::string ModuleNameAt(std::uintptr_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<const char*>(address), &module)) {
    return {};
  }
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  std::string name(path, length);
  const std::size_t separator = name.find_last_of("\\/");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

ExternalExceptionInfo InfoOf(const EXCEPTION_RECORD& record) {
  ExternalExceptionInfo info;
  info.code = record.ExceptionCode;
  info.flags = record.ExceptionFlags;
  info.address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
  info.parameter_count = std::min<DWORD>(record.NumberParameters, 15);
  for (std::uint32_t i = 0; i < info.parameter_count; ++i) info.parameters[i] = record.ExceptionInformation[i];
  return info;
}

std::string AccessViolationMessage(const EXCEPTION_RECORD& record) {
  const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
  const char* access = "Read";
  std::uintptr_t target = 0;
  if (record.NumberParameters >= 2) {
    access = record.ExceptionInformation[0] == 1 ? "Write" : record.ExceptionInformation[0] == 8 ? "Execute" : "Read";
    target = record.ExceptionInformation[1];
  }
  char text[512];
  // As many digits as the process's pointers have.
  constexpr int kDigits = sizeof(void*) * 2;
  std::snprintf(text, sizeof text, "Access violation at address %0*llX in module '%s'. %s of address %0*llX", kDigits,
                static_cast<unsigned long long>(address), ModuleNameAt(address).c_str(), access, kDigits,
                static_cast<unsigned long long>(target));
  return text;
}

}  // namespace
}  // namespace vellum::exceptlog

// Where a converted fault continues: its caller is the faulting instruction
// (see ConvertFault; in a 64-bit process through FaultResumeEntry), so
// unwinding from here goes through the faulting procedure's own handlers and
// cleanups.
extern "C" __attribute__((noinline, used)) [[noreturn]] void vellum_exceptlog_throw_pending_fault() {
  using namespace vellum::exceptlog;
  TRaiseState& state = CurrentRaiseState();
  // A floating-point fault leaves its exception pending in the x87 status
  // word; the next floating-point instruction would fault again.
  asm volatile("fnclex");
  // Thrown through the raise hook, which takes the object and keeps the
  // position and registers recorded at the fault.
  ThrowFault(state.fault);
}

namespace vellum::exceptlog {
namespace {

LONG CALLBACK ConvertFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  CONTEXT& context = *pointers->ContextRecord;
  if (!IsConvertedFaultCode(record.ExceptionCode) || (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const std::uintptr_t instruction = win::InstructionPointer(context);
  if (instruction < range.start.load() || instruction >= range.end.load()) return EXCEPTION_CONTINUE_SEARCH;
  TRaiseState* existing = ExistingRaiseState();
  // A fault while the previous one is still being turned into an exception
  // is the conversion's own: leave it to the system.
  if (existing != nullptr && existing->fault_pending) return EXCEPTION_CONTINUE_SEARCH;
  TRaiseState& state = CurrentRaiseState();
  RecordRaise(state, nullptr, instruction, win::StackPointer(context), false);
  state.context = context;
  state.context_valid = true;
  state.walk = context;
  state.walk_valid = sizeof(void*) == 8;
  state.fault = record;
  state.fault.ExceptionRecord = nullptr;
  state.fault_pending = true;
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    if (StackOverflowReporter reporter = overflow_reporter.load()) {
      reporter(state);
      state.overflow_reported = true;
    }
  }
  // A call of the resume entry from the faulting instruction: the return
  // address is one past its start, so that the unwinder, which looks up the
  // byte before a return address, lands on the faulting instruction itself.
  win::SimulateCall(context, FaultResumeEntry(), instruction + 1);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool IsConvertedFaultCode(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW: return true;
    default: return false;
  }
}

[[noreturn]] void ThrowFault(const EXCEPTION_RECORD& record) {
  const ExternalExceptionInfo info = InfoOf(record);
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: throw EAccessViolation(AccessViolationMessage(record), info);
    case EXCEPTION_INT_DIVIDE_BY_ZERO: throw EDivByZero("Division by zero", info);
    case EXCEPTION_INT_OVERFLOW: throw EIntOverflow("Integer overflow", info);
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: throw ERangeError("Range check error", info);
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: throw EZeroDivide("Floating point division by zero", info);
    case EXCEPTION_FLT_OVERFLOW: throw EOverflow("Floating point overflow", info);
    case EXCEPTION_FLT_UNDERFLOW: throw EUnderflow("Floating point underflow", info);
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK: throw EInvalidOp("Invalid floating point operation", info);
    case EXCEPTION_PRIV_INSTRUCTION: throw EPrivilege("Privileged instruction", info);
    case EXCEPTION_STACK_OVERFLOW: throw EStackOverflow("Stack overflow", info);
    case CONTROL_C_EXIT: throw EControlC("Control-C hit", info);
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "External exception %X", static_cast<unsigned>(record.ExceptionCode));
      throw EExternalException(text, info);
    }
  }
}

std::exception_ptr ExceptionFromFault(const EXCEPTION_RECORD& record) {
  try {
    ThrowFault(record);
  } catch (...) {
    return std::current_exception();
  }
}

void SetStackOverflowReporter(StackOverflowReporter reporter) {
  overflow_reporter.store(reporter);
}

void StartFaultConversion(std::uintptr_t code_start, std::uintptr_t code_end) {
  range.start.store(code_start);
  range.end.store(code_end);
  if (handler_cookie.load() == nullptr) handler_cookie.store(AddVectoredExceptionHandler(1, &ConvertFault));
}

void StopFaultConversion() {
  if (void* cookie = handler_cookie.exchange(nullptr)) RemoveVectoredExceptionHandler(cookie);
  range.end.store(0);
  range.start.store(0);
}

bool FaultConversionActive() {
  return handler_cookie.load() != nullptr;
}

}  // namespace vellum::exceptlog
