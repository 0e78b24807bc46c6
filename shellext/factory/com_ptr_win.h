// A small owning COM interface pointer: one reference per pointer, taken on
// copy and given back on destruction, so no code pairs AddRef and Release by
// hand.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <utility>

namespace vellum::shellext {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference the caller already holds (a result of QueryInterface,
  // CreateInstance or a factory function).
  static ComPtr Attach(Interface* raw) {
    ComPtr result;
    result.pointer_ = raw;
    return result;
  }
  // Takes a reference of its own.
  static ComPtr Share(Interface* raw) {
    if (raw != nullptr) raw->AddRef();
    return Attach(raw);
  }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  void Reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }
  // Hands the reference to the caller (an out-parameter of a COM method).
  [[nodiscard]] Interface* Detach() { return std::exchange(pointer_, nullptr); }
  // The slot for an out-parameter; what was held is released first.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // The object's interface `Other`, or empty when it does not have it.
  template <typename Other>
  ComPtr<Other> As() const {
    ComPtr<Other> result;
    if (pointer_ != nullptr) pointer_->QueryInterface(__uuidof(Other), result.ReceiveVoid());
    return result;
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace vellum::shellext
