#include "exceptlog/delivery/delivery_error.h"

#include <mutex>

namespace vellum::exceptlog {
namespace {

// Send threads record from their own thread while the pipeline reads.
std::mutex record_lock;
TDeliveryError last_error;
DeliveryErrorSink installed_sink = nullptr;

}  // namespace

void SetDeliveryErrorSink(DeliveryErrorSink sink) {
  const std::lock_guard guard(record_lock);
  installed_sink = sink;
}

void RecordDeliveryError(TDeveruVuzErrorCode code, const std::string& message) {
  DeliveryErrorSink sink = nullptr;
  {
    const std::lock_guard guard(record_lock);
    last_error = {code, message};
    sink = installed_sink;
  }
  if (sink != nullptr) sink(code, message);
}

void RecordSectionError(TDeveruVuzErrorCode code, std::string_view section, const std::exception_ptr& failure) {
  RecordDeliveryError(code, FormatDeliveryWarningMessage(section, failure));
}

TDeliveryError LastRecordedDeliveryError() {
  const std::lock_guard guard(record_lock);
  return last_error;
}

void ClearRecordedDeliveryError() {
  const std::lock_guard guard(record_lock);
  last_error = {};
}

}  // namespace vellum::exceptlog
