// The exception classes of the system. Everything the system raises derives
// from Exception; classes are compared by name (ClassName/InheritsFrom) because
// filters, reports and stored options name them as text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {});
  Exception(const Exception& other);
  Exception& operator=(const Exception& other);
  ~Exception() override;

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

  virtual const char* ClassName() const noexcept { return "Exception"; }
  // True when this object's class is `class_name` or one of its ancestors.
  virtual bool InheritsFrom(std::string_view class_name) const noexcept { return class_name == "Exception"; }
  // The class's own name, then its ancestors' up to "Exception": filters
  // compare names without case, which InheritsFrom cannot.
  std::vector<std::string_view> ClassChain() const {
    std::vector<std::string_view> chain;
    AppendClassChain(chain);
    return chain;
  }
  // A live object carries the signature; destruction wipes it, so a stale
  // pointer found on a stack or in a register does not pass for an exception.
  static constexpr std::uint32_t kSignature = 0x43584556;  // "VEXC"
  bool HasSignature() const noexcept { return signature_ == kSignature; }

 protected:
  virtual void AppendClassChain(std::vector<std::string_view>& chain) const { chain.push_back("Exception"); }

 private:
  volatile std::uint32_t signature_ = kSignature;
  std::string message_;
};

// Declares an exception class that inherits its base's constructors and
// answers its own name in the class-by-name queries.
#define VELLUM_EXCEPTION_CLASS(Class, Base)                                      \
  class Class : public Base {                                                    \
   public:                                                                       \
    using Base::Base;                                                            \
    const char* ClassName() const noexcept override { return #Class; }           \
    bool InheritsFrom(std::string_view class_name) const noexcept override {     \
      return class_name == #Class || Base::InheritsFrom(class_name);             \
    }                                                                            \
                                                                                 \
   protected:                                                                    \
    void AppendClassChain(std::vector<std::string_view>& chain) const override { \
      chain.push_back(#Class);                                                   \
      Base::AppendClassChain(chain);                                             \
    }                                                                            \
  }

VELLUM_EXCEPTION_CLASS(EAbort, Exception);
VELLUM_EXCEPTION_CLASS(EConvertError, Exception);
VELLUM_EXCEPTION_CLASS(EAssertionFailed, Exception);
VELLUM_EXCEPTION_CLASS(EHeapException, Exception);
VELLUM_EXCEPTION_CLASS(EOutOfMemory, EHeapException);
VELLUM_EXCEPTION_CLASS(EListError, Exception);
VELLUM_EXCEPTION_CLASS(EClassNotFound, Exception);
VELLUM_EXCEPTION_CLASS(EPropertyError, Exception);
VELLUM_EXCEPTION_CLASS(EComponentError, Exception);
VELLUM_EXCEPTION_CLASS(EInvalidOperation, Exception);

VELLUM_EXCEPTION_CLASS(EStreamError, Exception);
VELLUM_EXCEPTION_CLASS(EFilerError, EStreamError);
VELLUM_EXCEPTION_CLASS(EReadError, EFilerError);
VELLUM_EXCEPTION_CLASS(EWriteError, EFilerError);
VELLUM_EXCEPTION_CLASS(EFOpenError, EStreamError);
VELLUM_EXCEPTION_CLASS(EFCreateError, EStreamError);

// A failed operating-system call; carries the system's error code.
class EOSError : public Exception {
 public:
  EOSError(std::string message, std::uint32_t error_code) : Exception(std::move(message)), error_code_(error_code) {}
  explicit EOSError(std::string message) : EOSError(std::move(message), 0) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  bool InheritsFrom(std::string_view class_name) const noexcept override {
    return class_name == "EOSError" || Exception::InheritsFrom(class_name);
  }
  std::uint32_t ErrorCode() const noexcept { return error_code_; }

 protected:
  void AppendClassChain(std::vector<std::string_view>& chain) const override {
    chain.push_back("EOSError");
    Exception::AppendClassChain(chain);
  }

 private:
  std::uint32_t error_code_ = 0;
};

// What the processor or the system reported for an operating-system
// exception, kept with the language exception it was turned into.
struct ExternalExceptionInfo {
  std::uint32_t code = 0;  // e.g. 0xC0000005
  std::uint32_t flags = 0;
  std::uintptr_t address = 0;  // faulting instruction
  std::uint32_t parameter_count = 0;
  std::uintptr_t parameters[15] = {};
};

// Base of every operating-system exception turned into a language one.
class EExternal : public Exception {
 public:
  explicit EExternal(std::string message = {}, ExternalExceptionInfo info = {})
      : Exception(std::move(message)), info_(info) {}
  const char* ClassName() const noexcept override { return "EExternal"; }
  bool InheritsFrom(std::string_view class_name) const noexcept override {
    return class_name == "EExternal" || Exception::InheritsFrom(class_name);
  }
  const ExternalExceptionInfo& Info() const noexcept { return info_; }
  std::uint32_t ExceptionCode() const noexcept { return info_.code; }

 protected:
  void AppendClassChain(std::vector<std::string_view>& chain) const override {
    chain.push_back("EExternal");
    Exception::AppendClassChain(chain);
  }

 private:
  ExternalExceptionInfo info_;
};

VELLUM_EXCEPTION_CLASS(EExternalException, EExternal);
VELLUM_EXCEPTION_CLASS(EIntError, EExternal);
VELLUM_EXCEPTION_CLASS(EDivByZero, EIntError);
VELLUM_EXCEPTION_CLASS(ERangeError, EIntError);
VELLUM_EXCEPTION_CLASS(EIntOverflow, EIntError);
VELLUM_EXCEPTION_CLASS(EMathError, EExternal);
VELLUM_EXCEPTION_CLASS(EInvalidOp, EMathError);
VELLUM_EXCEPTION_CLASS(EZeroDivide, EMathError);
VELLUM_EXCEPTION_CLASS(EOverflow, EMathError);
VELLUM_EXCEPTION_CLASS(EUnderflow, EMathError);
VELLUM_EXCEPTION_CLASS(EAccessViolation, EExternal);
VELLUM_EXCEPTION_CLASS(EPrivilege, EExternal);
VELLUM_EXCEPTION_CLASS(EStackOverflow, EExternal);
VELLUM_EXCEPTION_CLASS(EControlC, EExternal);

// Answers whether `candidate` points at a live Exception object: the memory
// it would occupy is readable (asked through `readable`), and the object
// carries the signature. Used on addresses found while a fault is analysed,
// where a wrong answer must never fault itself.
using ReadableProbe = bool (*)(const void* address, std::size_t size);
bool IsValidExceptionObject(const void* candidate, ReadableProbe readable);

// Readability of this process's memory, answered without touching it.
bool MemoryIsReadable(const void* address, std::size_t size);

// Convenience: the class name of any exception, "Exception" names unknown ones.
std::string ExceptionClassName(const std::exception& e);

}  // namespace vellum
