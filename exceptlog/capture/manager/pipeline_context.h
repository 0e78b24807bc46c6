// What a step of the report pipeline may ask of the subsystem that runs it:
// the component events, a delivery warning, code in the raising thread, and
// for a send thread of its own the lock and the steps after a delivery.
// Report and delivery reach the exception manager through this and nothing
// else; the manager hands each step its context with the report.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "exceptlog/capture/component/exception_record.h"
#include "exceptlog/capture/manager/delivery_warning.h"
#include "runtime/strings/string_list.h"

namespace vellum::exceptlog {

// What a report asked of the program's end: the dialog's terminate or
// restart, and whether the dialog already asked the `atTerminating`
// handlers. A send thread of its own carries it to its post-send steps.
struct TerminateRequest {
  bool requested = false;
  bool confirmed = false;
  int action = -1;  // -1: the options decide; else 0 terminate, 1 restart
};

class PipelineContext {
 public:
  virtual ~PipelineContext() = default;

  // Runs `procedure` in the thread that raised the exception being
  // reported, and waits for it; what it raises is swallowed. Every event
  // below is fired this way.
  virtual void RunInRaisingThread(const std::function<void()>& procedure) = 0;

  // A report could not be shown, logged, mailed or uploaded: kept as the
  // last delivery error, a line to the debugger output, and a message box
  // for network failures while the send dialog shows errors.
  virtual void Warn(TDeveruVuzErrorCode code, const std::string& message, bool send_dialog_shows_errors = false) = 0;

  // For a send thread of its own: runs `body` under the lock that
  // serialises reports, so that its delivery never overlaps the next report.
  virtual void RunUnderPipelineLock(const std::function<void()>& body) = 0;
  // The steps after a delivery that a send thread runs when it is done
  // (under the pipeline lock): the burst check, then the terminate or
  // restart that the user or the burst asked for.
  virtual void RunPostSendSteps(const TRuzadaExceptionRecord& record, const TerminateRequest& request) = 0;
  // A send thread's own failure (the archive, the XML copy) goes to the
  // internal-error reporter, as it would inside the pipeline: reporting it
  // as an exception would send it again.
  virtual void ReportSendThreadFailure(const std::exception_ptr& failure, std::uint64_t address) = 0;

  // "[<section>] <message>" of a caught failure, warned as above.
  void Warn(TDeveruVuzErrorCode code, std::string_view section, const std::exception_ptr& failure);

  // The component events, each only when some component handles it, each
  // in the raising thread, each answering what the handlers decided.
  // Handled: true unless a handler cleared it.
  bool FireExceptionNotify(const TRuzadaExceptionRecord& record);
  // Execute: true unless a handler vetoed the action.
  bool FireAction(const TRuzadaExceptionRecord& record, TRuzadaActionType action);
  // Retry: true when a handler asked for the failed action to run again.
  bool FireErrorAskingRetry(const TRuzadaExceptionRecord& record, TRuzadaActionType action);
  std::string FireCustomData(const TRuzadaExceptionRecord& record);
  // Lets the handlers change the list of files that go with the report.
  void FireAttachedFilesRequest(const TRuzadaExceptionRecord& record, StringList& files);
  // Lets the handlers add form fields to a web upload.
  void FireCustomFieldsRequest(const TRuzadaExceptionRecord& record, StringList& names, StringList& values);
};

// The context of a step run outside the manager (a test driving one step):
// events run in the calling thread, warnings go to the debugger output,
// post-send steps do nothing.
class StandaloneContext : public PipelineContext {
 public:
  void RunInRaisingThread(const std::function<void()>& procedure) override;
  void Warn(TDeveruVuzErrorCode code, const std::string& message, bool send_dialog_shows_errors = false) override;
  void RunUnderPipelineLock(const std::function<void()>& body) override { body(); }
  void RunPostSendSteps(const TRuzadaExceptionRecord&, const TerminateRequest&) override {}
  void ReportSendThreadFailure(const std::exception_ptr& failure, std::uint64_t address) override;
  using PipelineContext::Warn;
};

}  // namespace vellum::exceptlog
