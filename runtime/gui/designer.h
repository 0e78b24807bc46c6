// Designer code: a form's designed property values, applied through the
// component model by property name, as a form description would be loaded.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "runtime/component/component.h"

namespace vellum::gui {

// A designed value: a number, a flag, a text (for enumerations and sets the
// element name, for sets several names separated by commas), or a component.
using DesignValue = std::variant<std::int64_t, bool, std::string, Component*>;

struct Designed {
  std::string_view property;
  DesignValue value;
  Designed(std::string_view p, int v) : property(p), value(std::int64_t{v}) {}
  Designed(std::string_view p, unsigned v) : property(p), value(std::int64_t{v}) {}
  Designed(std::string_view p, bool v) : property(p), value(v) {}
  Designed(std::string_view p, const char* v) : property(p), value(std::string(v)) {}
  Designed(std::string_view p, Component* v) : property(p), value(v) {}
};

// Raises EPropertyError naming the property when a value does not fit it.
void Design(Persistent& target, std::initializer_list<Designed> values);

}  // namespace vellum::gui
