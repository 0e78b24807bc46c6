#include "exceptlog/delivery/mail/schannel_library_win.h"

#include "exceptlog/delivery/mail/tls_failure_text.h"
#include "exceptlog/delivery/mail/tls_receive_buffer.h"
#include "runtime/win/entry_point_win.h"

namespace vellum::exceptlog {
namespace {

template <typename Function>
bool LookUp(HMODULE module, const char* name, Function*& entry) {
  entry = win::LookUpEntryPoint<Function>(module, name);
  return entry != nullptr;
}

bool TableComplete(const SecurityFunctionTableW* table) {
  return table != nullptr && table->AcquireCredentialsHandleW != nullptr && table->FreeCredentialsHandle != nullptr &&
         table->InitializeSecurityContextW != nullptr && table->DeleteSecurityContext != nullptr &&
         table->ApplyControlToken != nullptr && table->QueryContextAttributesW != nullptr &&
         table->EncryptMessage != nullptr && table->DecryptMessage != nullptr && table->FreeContextBuffer != nullptr;
}

}  // namespace

SchannelLibrary::SchannelLibrary()
    : secur32_(LoadLibraryA(kSecur32LibraryName)), crypt32_(LoadLibraryA(kCrypt32LibraryName)) {
  auto* init = win::LookUpEntryPoint<decltype(InitSecurityInterfaceW)>(secur32_.get(), "InitSecurityInterfaceW");
  if (init != nullptr) table_ = init();
  if (!TableComplete(table_)) throw ETlsError("the system's TLS is not available (secur32.dll)");
  const HMODULE crypt32 = crypt32_.get();
  bool all = crypt32 != nullptr;
  all = LookUp(crypt32, "CertGetCertificateChain", GetCertificateChain) && all;
  all = LookUp(crypt32, "CertVerifyCertificateChainPolicy", VerifyCertificateChainPolicy) && all;
  all = LookUp(crypt32, "CertFreeCertificateChain", FreeCertificateChain) && all;
  all = LookUp(crypt32, "CertFreeCertificateContext", FreeCertificateContext) && all;
  if (!all) throw ETlsError("the system's certificate check is not available (crypt32.dll)");
  // Once a process has mailed over TLS it keeps both: unloading secur32.dll
  // throws away the system's TLS set-up, which the next session would pay
  // again (a quarter of a delivery or more). Explorer, the band's host,
  // holds them anyway. This session's own reference is still given back.
  HMODULE pinned = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, kSecur32LibraryName, &pinned);
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, kCrypt32LibraryName, &pinned);
}

TlsCredentials::TlsCredentials(const SchannelLibrary& library) : library_(library) {
  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  // The machine's protocols and cipher suites (nothing named here); the
  // certificate is checked by CheckServerCertificate, whose verdict names
  // the reason, before anything is sent.
  settings.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
  TimeStamp expiry{};
  const SECURITY_STATUS status =
      library_.Sspi().AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                nullptr, &settings, nullptr, nullptr, &handle_, &expiry);
  if (status != SEC_E_OK) {
    throw ETlsError("no TLS credentials: " + TlsFailureText(static_cast<std::uint32_t>(status), {}));
  }
}

TlsCredentials::~TlsCredentials() {
  library_.Sspi().FreeCredentialsHandle(&handle_);
}

TlsContext::~TlsContext() {
  if (valid_) library_.Sspi().DeleteSecurityContext(&handle_);
}

}  // namespace vellum::exceptlog
