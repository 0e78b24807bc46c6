// The reference-counting state both object bases share: the switch, the
// controller and the interlocked count.
#pragma once

#include <objbase.h>

namespace vellum::shellext {

class ReferenceCount {
 public:
  bool Counted() const { return counted_; }
  void SetCounted(bool value) { counted_ = value; }
  // Not owned: the controller is the object this one lives inside (a band
  // that holds its context menu), which outlives it.
  IUnknown* Controller() const { return controller_; }
  void SetController(IUnknown* controller) { controller_ = controller; }
  LONG Count() const { return count_; }

  // -1 while counting is off; the controller's answer when there is one;
  // else the new count.
  LONG AddRef() {
    if (!counted_) return -1;
    if (controller_ != nullptr) return static_cast<LONG>(controller_->AddRef());
    return InterlockedIncrement(&count_);
  }

  // As AddRef. `last` is set when this dropped the object's own count to
  // zero or below: the caller then destroys the object.
  LONG Release(bool& last) {
    last = false;
    if (!counted_) return -1;
    if (controller_ != nullptr) return static_cast<LONG>(controller_->Release());
    const LONG count = InterlockedDecrement(&count_);
    last = count <= 0;
    return count;
  }

 private:
  bool counted_ = false;
  IUnknown* controller_ = nullptr;
  volatile LONG count_ = 0;
};

}  // namespace vellum::shellext
