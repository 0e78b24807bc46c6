// The size limits a band reports to its site; 0 means no limit.
#pragma once

#include "runtime/component/persistent.h"

namespace vellum::shellext {

class DUduzBandConstraints : public Persistent {
  VELLUM_PERSISTENT_CLASS()

 public:
  int MaxHeight() const { return max_height_; }
  void SetMaxHeight(int value) { max_height_ = value; }
  int MaxWidth() const { return max_width_; }
  void SetMaxWidth(int value) { max_width_ = value; }
  int MinHeight() const { return min_height_; }
  void SetMinHeight(int value) { min_height_ = value; }
  int MinWidth() const { return min_width_; }
  void SetMinWidth(int value) { min_width_ = value; }
  void Assign(const Persistent* source) override;

 private:
  int max_height_ = 0;
  int max_width_ = 0;
  int min_height_ = 0;
  int min_width_ = 0;
};

}  // namespace vellum::shellext
