// The last delivery error: what the mail and upload routines record when a
// delivery fails, so that the send thread can tell the user which form
// failed and why. The exception manager's warning routine is installed as
// the sink by the module that assembles the subsystem; without one the
// record is only kept here.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "exceptlog/capture/manager/delivery_warning.h"

namespace vellum::exceptlog {

using DeliveryErrorSink = void (*)(TDeveruVuzErrorCode code, const std::string& message);

void SetDeliveryErrorSink(DeliveryErrorSink sink);
// Keeps the code and message as the last delivery error and passes them on
// to the sink.
void RecordDeliveryError(TDeveruVuzErrorCode code, const std::string& message);
// The same for a failure caught in a delivery step: "[<section>] <message>",
// or "General '<section>' error." for a failure without a message.
void RecordSectionError(TDeveruVuzErrorCode code, std::string_view section, const std::exception_ptr& failure);
TDeliveryError LastRecordedDeliveryError();
void ClearRecordedDeliveryError();

}  // namespace vellum::exceptlog
