#include "shellext/bandform/band_constraints.h"

#include "runtime/component/class_builder.h"

namespace vellum::shellext {

const ClassInfo& DUduzBandConstraints::StaticClass() {
  using T = DUduzBandConstraints;
  static const ClassInfo info = ClassBuilder<T>("DUduzBandConstraints", &Persistent::StaticClass())
                                    .Property("MaxHeight", &T::MaxHeight, &T::SetMaxHeight)
                                    .Property("MaxWidth", &T::MaxWidth, &T::SetMaxWidth)
                                    .Property("MinHeight", &T::MinHeight, &T::SetMinHeight)
                                    .Property("MinWidth", &T::MinWidth, &T::SetMinWidth)
                                    .Build();
  return info;
}

void DUduzBandConstraints::Assign(const Persistent* source) {
  if (const auto* other = dynamic_cast<const DUduzBandConstraints*>(source)) {
    max_height_ = other->max_height_;
    max_width_ = other->max_width_;
    min_height_ = other->min_height_;
    min_width_ = other->min_width_;
    return;
  }
  Persistent::Assign(source);
}

}  // namespace vellum::shellext
