#include "exceptlog/delivery/mail/tls_failure_text.h"

#include <cstdio>

namespace vellum::exceptlog {
namespace {

// The values of the Win32 names, which this portable file cannot include.
enum : std::uint32_t {
  kSecInternalError = 0x80090304,           // SEC_E_INTERNAL_ERROR
  kSecMessageAltered = 0x8009030F,          // SEC_E_MESSAGE_ALTERED
  kSecWrongPrincipal = 0x80090322,          // SEC_E_WRONG_PRINCIPAL
  kSecUntrustedRoot = 0x80090325,           // SEC_E_UNTRUSTED_ROOT
  kSecIllegalMessage = 0x80090326,          // SEC_E_ILLEGAL_MESSAGE
  kSecCertUnknown = 0x80090327,             // SEC_E_CERT_UNKNOWN
  kSecCertExpired = 0x80090328,             // SEC_E_CERT_EXPIRED
  kSecDecryptFailure = 0x80090330,          // SEC_E_DECRYPT_FAILURE
  kSecAlgorithmMismatch = 0x80090331,       // SEC_E_ALGORITHM_MISMATCH
  kSecNoCredentials = 0x8009030E,           // SEC_E_NO_CREDENTIALS
  kSecUnsupportedFunction = 0x80090302,     // SEC_E_UNSUPPORTED_FUNCTION
  kCertExpired = 0x800B0101,                // CERT_E_EXPIRED
  kCertValidityPeriodNesting = 0x800B0102,  // CERT_E_VALIDITYPERIODNESTING
  kCertUntrustedRoot = 0x800B0109,          // CERT_E_UNTRUSTEDROOT
  kCertChaining = 0x800B010A,               // CERT_E_CHAINING
  kCertRevoked = 0x800B010C,                // CERT_E_REVOKED
  kCertUntrustedTestRoot = 0x800B010D,      // CERT_E_UNTRUSTEDTESTROOT
  kCertRevocationFailure = 0x800B010E,      // CERT_E_REVOCATION_FAILURE
  kCertNameMismatch = 0x800B010F,           // CERT_E_CN_NO_MATCH
  kCertWrongUsage = 0x800B0110,             // CERT_E_WRONG_USAGE
  kTrustBadSignature = 0x80096004,          // TRUST_E_CERT_SIGNATURE
  kTrustBasicConstraints = 0x80096019,      // TRUST_E_BASIC_CONSTRAINTS
  kCryptRevoked = 0x80092010,               // CRYPT_E_REVOKED
};

}  // namespace

std::string TlsFailureText(std::uint32_t status, const std::string& host) {
  switch (status) {
    case kSecUntrustedRoot:
    case kCertUntrustedRoot:
    case kCertUntrustedTestRoot:
    case kCertChaining:
    case kSecCertUnknown:
    case kTrustBadSignature:
    case kTrustBasicConstraints: return "the certificate is not trusted";
    case kSecWrongPrincipal:
    case kCertNameMismatch: return "the certificate's name does not match " + host;
    case kSecCertExpired:
    case kCertExpired:
    case kCertValidityPeriodNesting: return "the certificate has expired or is not valid yet";
    case kCertRevoked:
    case kCryptRevoked: return "the certificate has been revoked";
    case kCertRevocationFailure: return "the certificate's revocation could not be checked";
    case kCertWrongUsage: return "the certificate is not meant for a server";
    case kSecAlgorithmMismatch: return "the server and this machine have no TLS version or cipher suite in common";
    case kSecIllegalMessage: return "the server's handshake message is not valid TLS";
    case kSecMessageAltered:
    case kSecDecryptFailure: return "a record from the server failed its integrity check";
    case kSecNoCredentials:
    case kSecUnsupportedFunction:
    case kSecInternalError: return "the system's TLS could not serve the session";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "TLS error 0x%08X", static_cast<unsigned>(status));
      return text;
    }
  }
}

}  // namespace vellum::exceptlog
