// Persistent: the base of every object with published properties. Its class
// information comes from the most derived class (VELLUM_PERSISTENT_CLASS).
#pragma once

#include <string>
#include <string_view>

#include "runtime/component/class_info.h"

namespace vellum {

class Persistent {
 public:
  Persistent() = default;
  virtual ~Persistent() = default;
  Persistent(const Persistent&) = delete;
  Persistent& operator=(const Persistent&) = delete;

  static const ClassInfo& StaticClass();
  virtual const ClassInfo& GetClass() const { return StaticClass(); }
  const std::string& ClassName() const { return GetClass().Name(); }
  bool InheritsFrom(std::string_view class_name) const { return GetClass().InheritsFrom(class_name); }

  // Copies `source` into this object. The default asks the source to assign
  // itself (AssignTo) and otherwise raises EConvertError
  // "Cannot assign a <source class> to a <this class>" ("a nil" for nullptr).
  virtual void Assign(const Persistent* source);

 protected:
  virtual void AssignTo(Persistent& target) const;
};

// Declares the class information members; the class's .cpp defines
// StaticClass() with a ClassBuilder.
#define VELLUM_PERSISTENT_CLASS()                        \
 public:                                                 \
  static const ::vellum::ClassInfo& StaticClass();       \
  const ::vellum::ClassInfo& GetClass() const override { \
    return StaticClass();                                \
  }

}  // namespace vellum
