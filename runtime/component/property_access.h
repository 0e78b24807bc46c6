// Reading and writing published properties by name, the way designer code,
// streaming and cloning reach them.
#pragma once

#include <any>
#include <string>
#include <string_view>

#include "runtime/component/class_info.h"
#include "runtime/component/persistent.h"

namespace vellum {

// The property or EPropertyError "Property <name> does not exist".
const PropertyInfo& GetPropertyInfo(const Persistent& object, std::string_view name);

PropertyValue GetPropertyValue(const Persistent& object, std::string_view name);
// Raises EPropertyError for a missing or read-only property or a value of the wrong kind.
void SetPropertyValue(Persistent& object, std::string_view name, const PropertyValue& value);

std::int64_t GetIntegerProperty(const Persistent& object, std::string_view name);
std::string GetStringProperty(const Persistent& object, std::string_view name);
// The element name of an enumeration property's current value.
std::string GetEnumProperty(const Persistent& object, std::string_view name);
void SetEnumProperty(Persistent& object, std::string_view name, std::string_view element);

std::any GetEventHandler(const Persistent& object, std::string_view name);
void SetEventHandler(Persistent& object, std::string_view name, const std::any& handler);

// For every published event of `from`, gives `to` the same handler when its
// class publishes an event of that name and handler type. Streaming does not
// carry handlers; a copy made by streaming gets them this way.
void CopyEventHandlers(const Persistent& from, Persistent& to);

}  // namespace vellum
