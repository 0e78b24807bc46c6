// Run-time class information: each persistent class describes itself once —
// its name, its parent, how to create it, and its published properties — so
// that objects can be created by class name, their properties read and set by
// name, and whole component trees streamed out and back in.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <variant>
#include <vector>

namespace vellum {

class Persistent;
class Component;

enum class PropertyKind {
  kInteger,      // std::int64_t
  kBoolean,      // bool
  kString,       // std::string (8-bit)
  kEnumeration,  // std::int64_t ordinal; element names give the stored form
  kSet,          // std::int64_t bit mask; bit i is element name i
  kObject,       // Persistent* owned by the object; streamed inline
  kReference,    // Component* held elsewhere; streamed by component name
  kEvent,        // std::any holding the std::function handler; never streamed
};

const char* PropertyKindName(PropertyKind kind);

using PropertyValue = std::variant<std::int64_t, bool, std::string, Persistent*, Component*, std::any>;

struct PropertyInfo {
  std::string name;
  PropertyKind kind = PropertyKind::kInteger;
  std::vector<std::string> element_names;     // enumeration and set
  std::type_index value_type = typeid(void);  // the handler type of an event
  std::function<PropertyValue(const Persistent&)> get;
  std::function<void(Persistent&, const PropertyValue&)> set;  // empty: read-only

  bool ReadOnly() const { return !set; }
  // "alClient" for ordinal 5 of an enumeration; raises EPropertyError when out of range.
  const std::string& ElementName(std::int64_t ordinal) const;
  // Ordinal of an element name; raises EPropertyError "Invalid property value" for an unknown name.
  std::int64_t ElementOrdinal(std::string_view element) const;
};

class ClassInfo {
 public:
  using Factory = std::function<std::unique_ptr<Persistent>()>;

  ClassInfo(std::string name, const ClassInfo* parent, Factory factory, std::vector<PropertyInfo> properties);

  const std::string& Name() const { return name_; }
  const ClassInfo* Parent() const { return parent_; }
  bool CanCreate() const { return static_cast<bool>(factory_); }
  // A new, unowned instance; raises EClassNotFound for abstract classes.
  std::unique_ptr<Persistent> Create() const;

  bool InheritsFrom(std::string_view class_name) const;
  bool InheritsFrom(const ClassInfo& other) const;

  // Published properties, the ancestors' first, in declaration order.
  std::vector<const PropertyInfo*> Properties() const;
  const PropertyInfo* FindProperty(std::string_view name) const;

 private:
  std::string name_;
  const ClassInfo* parent_ = nullptr;
  Factory factory_;
  std::vector<PropertyInfo> own_properties_;
};

// The process-wide registry of classes that can be created by name. (Not
// "RegisterClass": <windows.h> turns that name into its window-class function.)
void RegisterComponentClass(const ClassInfo& info);
void UnregisterComponentClass(const ClassInfo& info);
// Nullptr when no class of that name is registered.
const ClassInfo* FindClass(std::string_view name);
// Raises EClassNotFound "Class <name> not found".
const ClassInfo& GetClass(std::string_view name);

}  // namespace vellum
