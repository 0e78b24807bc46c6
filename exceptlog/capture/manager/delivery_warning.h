// Delivery warnings: a report could not be shown, logged, mailed or
// uploaded. The code and message are kept as the last delivery error (the
// send dialog and the pipeline read it), a line goes to the debugger output,
// and network failures are shown while the send dialog shows errors.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "exceptlog/capture/component/exception_record.h"

namespace vellum::exceptlog {

struct TDeliveryError {
  TDeveruVuzErrorCode Code = eeNone;
  std::string Message;
};

// "[<section>] <message>" for a failure that carries a message, "General
// '<section>' error." for anything else.
std::string FormatDeliveryWarningMessage(std::string_view section, const std::exception_ptr& failure);
// "[WARNING] - Code: <enumeration name> - Address: <hex digits> - Message: "<message>"": 8 digits
// for an address below 4 GB, 16 above (a 64-bit process's code lies there).
std::string FormatDeliveryWarningLine(TDeveruVuzErrorCode code, std::uint64_t address, std::string_view message);
// The SMTP, HTTP, HTTPS and FTP failures are shown in a message box captioned
// "Error." while the send dialog shows errors; the others only go to the
// debugger output.
bool DeliveryWarningIsShown(TDeveruVuzErrorCode code, bool send_dialog_shows_errors);

inline constexpr std::uint32_t kDeliveryWarningBoxStyle = 0x242010;

}  // namespace vellum::exceptlog
