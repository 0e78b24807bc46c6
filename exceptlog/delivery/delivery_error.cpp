#include "exceptlog/delivery/delivery_error.h"

namespace vellum::exceptlog {

void TellSectionError(const DeliveryWarningSink& sink, TDeveruVuzErrorCode code, std::string_view section,
                      const std::exception_ptr& failure) {
  if (sink) sink(code, FormatDeliveryWarningMessage(section, failure));
}

}  // namespace vellum::exceptlog
