#include "exceptlog/capture/manager/component_events_win.h"

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/exception_manager_win.h"

namespace vellum::exceptlog {

bool FireExceptionNotify(const TRuzadaExceptionRecord& record) {
  bool handled = true;
  if (!HasHandler(&TDeveruVuz::OnExceptionNotify)) return handled;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionNotify, record, handled); });
  return handled;
}

bool FireAction(const TRuzadaExceptionRecord& record, TRuzadaActionType action) {
  bool execute = true;
  if (!HasHandler(&TDeveruVuz::OnExceptionActionNotify)) return execute;
  // A copy: the record handed over must not change while the handler runs
  // in another thread.
  const TRuzadaExceptionRecord copy = record;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionActionNotify, copy, action, execute); });
  return execute;
}

bool FireErrorAskingRetry(const TRuzadaExceptionRecord& record, TRuzadaActionType action) {
  bool retry = false;
  if (!HasHandler(&TDeveruVuz::OnExceptionErrorNotify)) return retry;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnExceptionErrorNotify, record, action, retry); });
  return retry;
}

std::string FireCustomData(const TRuzadaExceptionRecord& record) {
  std::string data;
  if (!HasHandler(&TDeveruVuz::OnCustomDataRequest)) return data;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnCustomDataRequest, record, data); });
  return data;
}

void FireAttachedFilesRequest(const TRuzadaExceptionRecord& record, StringList& files) {
  if (!HasHandler(&TDeveruVuz::OnAttachedFilesRequest)) return;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnAttachedFilesRequest, record, files); });
}

void FireCustomFieldsRequest(const TRuzadaExceptionRecord& record, StringList& names, StringList& values) {
  if (!HasHandler(&TDeveruVuz::OnCustomFieldsRequest)) return;
  RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnCustomFieldsRequest, record, names, values); });
}

}  // namespace vellum::exceptlog
