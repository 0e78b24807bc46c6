// The last resort for a user's own mail program: a mailto: URL given to the
// program registered for the mailto protocol.
#pragma once

#include <string>

#include "exceptlog/delivery/delivery_error.h"

namespace vellum::exceptlog {

// Starts the mailto command, brings its window to the top and waits for the
// program to end; false with an eeEmailShellError told to `warn` when it
// cannot start. The body is followed by the report text.
bool SendMailShell(const std::string& addresses, const std::string& subject, const std::string& body,
                   const std::string& report_text, const DeliveryWarningSink& warn = {});

}  // namespace vellum::exceptlog
