#include "runtime/component/persistent.h"

#include "runtime/exception.h"

namespace vellum {

const ClassInfo& Persistent::StaticClass() {
  static const ClassInfo info("TPersistent", nullptr, nullptr, {});
  return info;
}

void Persistent::Assign(const Persistent* source) {
  if (source != nullptr) {
    source->AssignTo(*this);
    return;
  }
  throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void Persistent::AssignTo(Persistent& target) const {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " + target.ClassName());
}

}  // namespace vellum
