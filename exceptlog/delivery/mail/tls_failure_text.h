// Words for the status codes a TLS session can end with: the system's
// security status codes (SEC_E_...) and the certificate policy's verdicts
// (CERT_E_..., TRUST_E_...), so that a failed delivery says why in terms a
// reader acts on ("the certificate is not trusted") rather than a number.
#pragma once

#include <cstdint>
#include <string>

namespace vellum::exceptlog {

// "the certificate's name does not match <host>", ...; for a code the table
// does not know, "TLS error 0x<code>".
std::string TlsFailureText(std::uint32_t status, const std::string& host);

}  // namespace vellum::exceptlog
