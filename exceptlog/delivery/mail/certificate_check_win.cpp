#include "exceptlog/delivery/mail/certificate_check_win.h"

#include "exceptlog/delivery/mail/tls_failure_text.h"
#include "exceptlog/delivery/mail/tls_receive_buffer.h"
#include "runtime/win/text_conversion_win.h"

namespace vellum::exceptlog {

void CheckServerCertificate(const SchannelLibrary& library, TlsContext& context, const std::string& host) {
  PCCERT_CONTEXT shown = nullptr;
  if (library.Sspi().QueryContextAttributesW(context.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &shown) != SEC_E_OK ||
      shown == nullptr) {
    throw ETlsError("the server showed no certificate");
  }
  const CertificateOwner certificate(library, shown);

  char server_authentication[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {server_authentication};
  CERT_CHAIN_PARA chain_parameters{};
  chain_parameters.cbSize = sizeof chain_parameters;
  chain_parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chain_parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // The server's intermediate certificates travel in the certificate's own
  // store, which is why it is named as the additional store.
  if (!library.GetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore,
                                   &chain_parameters, 0, nullptr, &built) ||
      built == nullptr) {
    throw ETlsError("the certificate's chain could not be built: " +
                    TlsFailureText(static_cast<std::uint32_t>(GetLastError()), host));
  }
  const CertificateChainOwner chain(library, built);

  std::wstring server_name = win::WideFromAnsi(host);
  HTTPSPolicyCallbackData ssl{};
  ssl.cbStruct = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = server_name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS verdict{};
  verdict.cbSize = sizeof verdict;
  if (!library.VerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &verdict)) {
    throw ETlsError("the certificate could not be checked: " +
                    TlsFailureText(static_cast<std::uint32_t>(GetLastError()), host));
  }
  if (verdict.dwError != 0) throw ETlsError(TlsFailureText(verdict.dwError, host));
}

}  // namespace vellum::exceptlog
