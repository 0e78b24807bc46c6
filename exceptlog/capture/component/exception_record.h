// What every notification of the exception subsystem is given: the record of
// the exception being reported, the actions the pipeline announces and the
// codes of delivery problems.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vellum::exceptlog {

class TRuzadaModulesList;
class TRuzadaStackList;
class TRuzadaModuleOptions;

// One per process; the current record points at it while a report runs past
// the point where it is filled. Handlers get copies.
struct TRuzadaExceptionRecord {
  // The exception object itself, and the same object as a std::exception
  // when it is one (nullptr for anything else that was thrown).
  std::exception_ptr RaisedObject;
  const std::exception* RaisedException = nullptr;
  std::uint64_t RaiseAddress = 0;  // for a language exception, the raising call instruction
  std::uint32_t RaiseThreadId = 0;
  std::string ReportText;
  TRuzadaModulesList* Modules = nullptr;
  TRuzadaStackList* StackEntries = nullptr;
  TRuzadaModuleOptions* Options = nullptr;
};

enum TRuzadaActionType : std::uint8_t {
  atShowingExceptionInfo,
  atShowedExceptionInfo,
  atSavingLogFile,
  atSavedLogFile,
  atSendingEmail,
  atSentEmail,
  atSendingWebMessage,
  atSentWebMessage,
  atTerminating,
};

enum TDeveruVuzErrorCode : std::uint8_t {
  eeNone,
  eeShowError,
  eeLogError,
  eeEmailMAPIError,
  eeEmailShellError,
  eeEmailSMTPError,
  eeWebHTTPError,
  eeWebHTTPSError,
  eeWebFTPError,
};

// The enumeration's own name of a code ("eeEmailSMTPError"); "eeNone" for
// values outside it.
const char* ErrorCodeName(TDeveruVuzErrorCode code);

}  // namespace vellum::exceptlog
