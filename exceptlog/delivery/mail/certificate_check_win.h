// Whether the certificate a TLS server showed may be believed for the host
// the client asked for: its chain built up to a root of the machine's trust
// store, and the SSL policy (validity, usage, the host name) applied.
#pragma once

#include <string>

#include "exceptlog/delivery/mail/schannel_library_win.h"

namespace vellum::exceptlog {

// Raises ETlsError naming the reason ("the certificate is not trusted",
// "the certificate's name does not match <host>", ...).
void CheckServerCertificate(const SchannelLibrary& library, TlsContext& context, const std::string& host);

}  // namespace vellum::exceptlog
