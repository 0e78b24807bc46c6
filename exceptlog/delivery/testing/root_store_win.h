// A test server's self-signed certificate made trusted (or no longer) in
// the machine's root store of the test's Wine prefix, so that a secure
// delivery to it can also succeed. Test programs only.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace vellum::exceptlog::testing {

// 0, or the failing call's error code.
inline DWORD SetRootTrust(const std::string& der, bool trusted) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (store == nullptr) return GetLastError();
  BOOL done = FALSE;
  PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                        static_cast<DWORD>(der.size()));
  if (context != nullptr) {
    if (trusted) {
      done = CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else if (PCCERT_CONTEXT found =
                   CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, context, nullptr)) {
      done = CertDeleteCertificateFromStore(found);  // frees `found`
    }
    CertFreeCertificateContext(context);
  }
  const DWORD error = done ? 0 : GetLastError();
  CertCloseStore(store, 0);
  return error;
}

}  // namespace vellum::exceptlog::testing
