// A small owning COM interface pointer: AddRef on copy, Release on
// destruction, no hand-paired calls anywhere else.
#pragma once

#include <unknwn.h>

#include <utility>

namespace vellum::win {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adopts a pointer whose reference the caller already holds.
  static ComPtr Attach(Interface* raw) {
    ComPtr result;
    result.pointer_ = raw;
    return result;
  }
  // Takes a new reference to `raw`.
  static ComPtr Share(Interface* raw) {
    if (raw != nullptr) raw->AddRef();
    return Attach(raw);
  }
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  void Reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }
  Interface* Detach() { return std::exchange(pointer_, nullptr); }
  // For out-parameters: releases what is held and answers the slot.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // QueryInterface into another smart pointer; empty on failure.
  template <typename Other>
  ComPtr<Other> As(REFIID iid) const {
    ComPtr<Other> result;
    if (pointer_ != nullptr) pointer_->QueryInterface(iid, result.ReceiveVoid());
    return result;
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace vellum::win
