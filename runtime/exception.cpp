#include "runtime/exception.h"

#include <cstddef>

namespace vellum {

Exception::Exception(std::string message) : message_(std::move(message)) {}

Exception::Exception(const Exception& other) : std::exception(other), message_(other.message_) {}

Exception& Exception::operator=(const Exception& other) {
  message_ = other.message_;
  return *this;
}

Exception::~Exception() {
  signature_ = 0;
}

bool IsValidExceptionObject(const void* candidate, ReadableProbe readable) {
  if (candidate == nullptr || readable == nullptr) return false;
  const auto address = reinterpret_cast<std::uintptr_t>(candidate);
  if (address % alignof(Exception) != 0) return false;
  if (!readable(candidate, sizeof(Exception))) return false;
  // The object's first word is its virtual table pointer; a live object's
  // table is readable too (a wiped or foreign block usually fails here).
  const void* vtable = *static_cast<const void* const*>(candidate);
  if (vtable == nullptr || !readable(vtable, sizeof(void*))) return false;
  return static_cast<const Exception*>(candidate)->HasSignature();
}

std::string ExceptionClassName(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
  return "Exception";
}

}  // namespace vellum
