// Recognising an object's class, or one of its ancestors, by its name: the
// subsystem's own thread classes are told apart from the application's by
// name, since they live in a later layer this one cannot include.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <typeinfo>

namespace vellum::exceptlog {

// The class's name without namespaces or template arguments
// ("vellum::exceptlog::TSendThread" -> "TSendThread").
std::string UnqualifiedClassName(const std::type_info& type);

// True when `type` or one of its base classes (walked through the C++ ABI's
// class type information) has one of `names` as its unqualified name.
bool ClassOrAncestorNamed(const std::type_info& type, std::initializer_list<std::string_view> names);

}  // namespace vellum::exceptlog
