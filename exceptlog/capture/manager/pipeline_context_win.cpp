#include <windows.h>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/pipeline_context.h"

namespace vellum::exceptlog {

void PipelineContext::Warn(TDeveruVuzErrorCode code, std::string_view section, const std::exception_ptr& failure) {
  Warn(code, FormatDeliveryWarningMessage(section, failure));
}

bool PipelineContext::FireExceptionNotify(const TRuzadaExceptionRecord& record) {
  bool handled = true;
  if (!HasHandler(&TDeveruVuz::OnExceptionNotify)) return handled;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionNotify, record, handled); });
  return handled;
}

bool PipelineContext::FireAction(const TRuzadaExceptionRecord& record, TRuzadaActionType action) {
  bool execute = true;
  if (!HasHandler(&TDeveruVuz::OnExceptionActionNotify)) return execute;
  // A copy: the record handed over must not change while the handler runs
  // in another thread.
  const TRuzadaExceptionRecord copy = record;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionActionNotify, copy, action, execute); });
  return execute;
}

bool PipelineContext::FireErrorAskingRetry(const TRuzadaExceptionRecord& record, TRuzadaActionType action) {
  bool retry = false;
  if (!HasHandler(&TDeveruVuz::OnExceptionErrorNotify)) return retry;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionErrorNotify, record, action, retry); });
  return retry;
}

std::string PipelineContext::FireCustomData(const TRuzadaExceptionRecord& record) {
  std::string data;
  if (!HasHandler(&TDeveruVuz::OnCustomDataRequest)) return data;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnCustomDataRequest, record, data); });
  return data;
}

void PipelineContext::FireAttachedFilesRequest(const TRuzadaExceptionRecord& record, StringList& files) {
  if (!HasHandler(&TDeveruVuz::OnAttachedFilesRequest)) return;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnAttachedFilesRequest, record, files); });
}

void PipelineContext::FireCustomFieldsRequest(const TRuzadaExceptionRecord& record, StringList& names,
                                              StringList& values) {
  if (!HasHandler(&TDeveruVuz::OnCustomFieldsRequest)) return;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnCustomFieldsRequest, record, names, values); });
}

void StandaloneContext::RunInRaisingThread(const std::function<void()>& procedure) {
  try {
    procedure();
  } catch (...) {
  }
}

void StandaloneContext::Warn(TDeveruVuzErrorCode code, const std::string& message, bool) {
  OutputDebugStringA(FormatDeliveryWarningLine(code, 0, message).c_str());
}

void StandaloneContext::ReportSendThreadFailure(const std::exception_ptr& failure, std::uint64_t) {
  Warn(eeNone, "Send", failure);
}

}  // namespace vellum::exceptlog
