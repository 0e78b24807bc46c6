#include "runtime/component/property_access.h"

#include "runtime/exception.h"

namespace vellum {

const PropertyInfo& GetPropertyInfo(const Persistent& object, std::string_view name) {
  if (const PropertyInfo* info = object.GetClass().FindProperty(name)) return *info;
  throw EPropertyError("Property " + std::string(name) + " does not exist");
}

PropertyValue GetPropertyValue(const Persistent& object, std::string_view name) {
  return GetPropertyInfo(object, name).get(object);
}

void SetPropertyValue(Persistent& object, std::string_view name, const PropertyValue& value) {
  const PropertyInfo& info = GetPropertyInfo(object, name);
  if (info.ReadOnly()) throw EPropertyError("Property " + info.name + " is read-only");
  info.set(object, value);
}

std::int64_t GetIntegerProperty(const Persistent& object, std::string_view name) {
  const PropertyValue value = GetPropertyValue(object, name);
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? 1 : 0;
  throw EPropertyError("Property " + std::string(name) + " is not ordinal");
}

std::string GetStringProperty(const Persistent& object, std::string_view name) {
  const PropertyValue value = GetPropertyValue(object, name);
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  throw EPropertyError("Property " + std::string(name) + " is not a string");
}

std::string GetEnumProperty(const Persistent& object, std::string_view name) {
  const PropertyInfo& info = GetPropertyInfo(object, name);
  if (info.kind != PropertyKind::kEnumeration) throw EPropertyError("Property " + info.name + " is not an enumeration");
  return info.ElementName(std::get<std::int64_t>(info.get(object)));
}

void SetEnumProperty(Persistent& object, std::string_view name, std::string_view element) {
  const PropertyInfo& info = GetPropertyInfo(object, name);
  if (info.kind != PropertyKind::kEnumeration) throw EPropertyError("Property " + info.name + " is not an enumeration");
  SetPropertyValue(object, name, info.ElementOrdinal(element));
}

std::any GetEventHandler(const Persistent& object, std::string_view name) {
  const PropertyInfo& info = GetPropertyInfo(object, name);
  if (info.kind != PropertyKind::kEvent) throw EPropertyError("Property " + info.name + " is not an event");
  return std::get<std::any>(info.get(object));
}

void SetEventHandler(Persistent& object, std::string_view name, const std::any& handler) {
  const PropertyInfo& info = GetPropertyInfo(object, name);
  if (info.kind != PropertyKind::kEvent) throw EPropertyError("Property " + info.name + " is not an event");
  info.set(object, handler);
}

void CopyEventHandlers(const Persistent& from, Persistent& to) {
  for (const PropertyInfo* source : from.GetClass().Properties()) {
    if (source->kind != PropertyKind::kEvent) continue;
    const PropertyInfo* target = to.GetClass().FindProperty(source->name);
    if (target == nullptr || target->kind != PropertyKind::kEvent || target->value_type != source->value_type) continue;
    target->set(to, source->get(from));
  }
}

}  // namespace vellum
