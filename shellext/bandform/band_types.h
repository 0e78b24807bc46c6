// Types the band form shares with the band object that creates it.
#pragma once

#include "runtime/component/component.h"

namespace vellum::shellext {

enum DUduzBandViewMode { ebmNormal, ebmVertical, ebmFloating, ebmTransparent };

// What a band form needs of the band object that created it. The band object
// implements it; the form holds it without owning it and cuts the link when
// its window goes.
class DUduzBandObjectLink {
 public:
  // The form (or one of its children) gained or lost the keyboard focus.
  virtual void FocusChange(bool has_focus) = 0;
  // The form's window is being destroyed: forget the form for good.
  virtual void ReleaseBandForm() = 0;
  virtual DUduzBandViewMode ViewMode() const = 0;
  // The band object as the Sender of the form's band events.
  virtual Component& BandComponent() = 0;

 protected:
  ~DUduzBandObjectLink() = default;
};

}  // namespace vellum::shellext
