#include "exceptlog/delivery/mail/tls_failure_text.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

// Schannel's own verdicts and the certificate policy's mean the same to a
// reader and read the same.
TEST(TlsFailureTextTest, TheHandshakesAndThePolicysVerdictsReadAlike) {
  EXPECT_EQ(TlsFailureText(0x80090325, "mx.example"), "the certificate is not trusted");  // SEC_E_UNTRUSTED_ROOT
  EXPECT_EQ(TlsFailureText(0x800B0109, "mx.example"), "the certificate is not trusted");  // CERT_E_UNTRUSTEDROOT
  EXPECT_EQ(TlsFailureText(0x80090322, "mx.example"), "the certificate's name does not match mx.example");
  EXPECT_EQ(TlsFailureText(0x800B010F, "127.0.0.1"), "the certificate's name does not match 127.0.0.1");
  EXPECT_EQ(TlsFailureText(0x80090328, ""), TlsFailureText(0x800B0101, ""));  // expired
}

TEST(TlsFailureTextTest, AnUnknownCodeIsShownInFull) {
  EXPECT_EQ(TlsFailureText(0x80090399, "x"), "TLS error 0x80090399");
  EXPECT_EQ(TlsFailureText(1, "x"), "TLS error 0x00000001");
}

}  // namespace
}  // namespace vellum::exceptlog
