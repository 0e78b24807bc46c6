// How a delivery routine tells why it failed. During a report the sink is the
// report's context, which keeps the last delivery error and warns the user;
// a caller outside a report (a test, a probe) passes a recorder of its own.
// Nothing is kept process-wide: two deliveries never see each other's error.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "exceptlog/capture/manager/delivery_warning.h"

namespace vellum::exceptlog {

// Empty: the failure is only answered as false.
using DeliveryWarningSink = std::function<void(TDeveruVuzErrorCode code, const std::string& message)>;

// Tells the sink, when there is one, of a failure caught in a delivery step:
// "[<section>] <message>", or "General '<section>' error." for a failure
// without a message.
void TellSectionError(const DeliveryWarningSink& sink, TDeveruVuzErrorCode code, std::string_view section,
                      const std::exception_ptr& failure);

// Keeps the last failure told to it, for a caller that reads it afterwards.
// Must outlive the sink it hands out.
class DeliveryErrorRecorder {
 public:
  DeliveryWarningSink Sink() {
    return [this](TDeveruVuzErrorCode code, const std::string& message) { last_ = {code, message}; };
  }
  const TDeliveryError& Last() const { return last_; }
  void Clear() { last_ = {}; }

 private:
  TDeliveryError last_;
};

}  // namespace vellum::exceptlog
