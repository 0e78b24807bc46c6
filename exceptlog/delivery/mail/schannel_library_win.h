// The system's TLS for the length of one session: Schannel's function table
// from secur32.dll and the certificate chain calls of crypt32.dll, both
// loaded by name, so that the DLL carries no TLS of its own and a process
// that never mails over TLS maps neither (one that has keeps them mapped).
// What the library makes is released through it, by the owners below.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <schannel.h>
#include <sspi.h>
#include <wincrypt.h>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

inline constexpr char kSecur32LibraryName[] = "secur32.dll";
inline constexpr char kCrypt32LibraryName[] = "crypt32.dll";

class SchannelLibrary {
 public:
  // Raises ETlsError when either library or any entry point is missing.
  SchannelLibrary();
  SchannelLibrary(const SchannelLibrary&) = delete;
  SchannelLibrary& operator=(const SchannelLibrary&) = delete;

  const SecurityFunctionTableW& Sspi() const { return *table_; }

  decltype(CertGetCertificateChain)* GetCertificateChain = nullptr;
  decltype(CertVerifyCertificateChainPolicy)* VerifyCertificateChainPolicy = nullptr;
  decltype(CertFreeCertificateChain)* FreeCertificateChain = nullptr;
  decltype(CertFreeCertificateContext)* FreeCertificateContext = nullptr;

 private:
  win::UniqueModule secur32_;
  win::UniqueModule crypt32_;
  SecurityFunctionTableW* table_ = nullptr;
};

// An outbound Schannel credential.
class TlsCredentials {
 public:
  explicit TlsCredentials(const SchannelLibrary& library);
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;

  CredHandle* get() { return &handle_; }

 private:
  const SchannelLibrary& library_;
  CredHandle handle_{};
};

// The security context of one session; valid once the handshake's first
// step has made it.
class TlsContext {
 public:
  explicit TlsContext(const SchannelLibrary& library) : library_(library) {}
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  bool valid() const { return valid_; }
  CtxtHandle* get() { return &handle_; }
  // The first handshake step writes the handle, and the context exists
  // once that step has not failed.
  CtxtHandle* slot() { return &handle_; }
  void made() { valid_ = true; }

 private:
  const SchannelLibrary& library_;
  CtxtHandle handle_{};
  bool valid_ = false;
};

// A token the SSPI allocated (ISC_REQ_ALLOCATE_MEMORY).
class ContextBuffer {
 public:
  ContextBuffer(const SchannelLibrary& library, void* buffer) : library_(library), buffer_(buffer) {}
  ~ContextBuffer() {
    if (buffer_ != nullptr) library_.Sspi().FreeContextBuffer(buffer_);
  }
  ContextBuffer(const ContextBuffer&) = delete;
  ContextBuffer& operator=(const ContextBuffer&) = delete;

 private:
  const SchannelLibrary& library_;
  void* buffer_;
};

class CertificateOwner {
 public:
  CertificateOwner(const SchannelLibrary& library, PCCERT_CONTEXT certificate)
      : library_(library), certificate_(certificate) {}
  ~CertificateOwner() {
    if (certificate_ != nullptr) library_.FreeCertificateContext(certificate_);
  }
  CertificateOwner(const CertificateOwner&) = delete;
  CertificateOwner& operator=(const CertificateOwner&) = delete;

  PCCERT_CONTEXT get() const { return certificate_; }

 private:
  const SchannelLibrary& library_;
  PCCERT_CONTEXT certificate_;
};

class CertificateChainOwner {
 public:
  CertificateChainOwner(const SchannelLibrary& library, PCCERT_CHAIN_CONTEXT chain)
      : library_(library), chain_(chain) {}
  ~CertificateChainOwner() {
    if (chain_ != nullptr) library_.FreeCertificateChain(chain_);
  }
  CertificateChainOwner(const CertificateChainOwner&) = delete;
  CertificateChainOwner& operator=(const CertificateChainOwner&) = delete;

  PCCERT_CHAIN_CONTEXT get() const { return chain_; }

 private:
  const SchannelLibrary& library_;
  PCCERT_CHAIN_CONTEXT chain_;
};

}  // namespace vellum::exceptlog
