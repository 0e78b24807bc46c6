#include "exceptlog/capture/manager/delivery_warning.h"

#include <cstdio>

namespace vellum::exceptlog {

std::string FormatDeliveryWarningMessage(std::string_view section, const std::exception_ptr& failure) {
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      return "[" + std::string(section) + "] " + error.what();
    } catch (...) {
    }
  }
  return "General '" + std::string(section) + "' error.";
}

std::string FormatDeliveryWarningLine(TDeveruVuzErrorCode code, std::uint64_t address, std::string_view message) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%0*llX", address > UINT32_MAX ? 16 : 8, static_cast<unsigned long long>(address));
  return "[WARNING] - Code: " + std::string(ErrorCodeName(code)) + " - Address: " + hex + " - Message: \"" +
         std::string(message) + "\"";
}

bool DeliveryWarningIsShown(TDeveruVuzErrorCode code, bool send_dialog_shows_errors) {
  return send_dialog_shows_errors && code >= eeEmailSMTPError && code <= eeWebFTPError;
}

}  // namespace vellum::exceptlog
