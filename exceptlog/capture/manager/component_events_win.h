// The component events as the pipeline, the log and the delivery raise
// them: each only when some component handles it, each in the raising
// thread (see RunInRaisingThread), each answering what the handlers decided.
#pragma once

#include <string>

#include "exceptlog/capture/component/exception_record.h"
#include "runtime/strings/string_list.h"

namespace vellum::exceptlog {

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

}  // namespace vellum::exceptlog
