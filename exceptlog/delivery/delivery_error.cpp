#include "exceptlog/delivery/delivery_error.h"

namespace vellum::exceptlog {

void TellDeliveryError(const DeliveryWarningSink& sink, TDeveruVuzErrorCode code, const std::string& message) {
  if (sink) sink(code, message);
}

void TellSectionError(const DeliveryWarningSink& sink, TDeveruVuzErrorCode code, std::string_view section,
                      const std::exception_ptr& failure) {
  TellDeliveryError(sink, code, FormatDeliveryWarningMessage(section, failure));
}

}  // namespace vellum::exceptlog
