#include "runtime/component/class_info.h"

#include <map>
#include <mutex>

#include "runtime/component/persistent.h"
#include "runtime/exception.h"

namespace vellum {

const char* PropertyKindName(PropertyKind kind) {
  switch (kind) {
    case PropertyKind::kInteger: return "Integer";
    case PropertyKind::kBoolean: return "Boolean";
    case PropertyKind::kString: return "String";
    case PropertyKind::kEnumeration: return "Enumeration";
    case PropertyKind::kSet: return "Set";
    case PropertyKind::kObject: return "Object";
    case PropertyKind::kReference: return "Reference";
    case PropertyKind::kEvent: return "Event";
  }
  return "?";
}

const std::string& PropertyInfo::ElementName(std::int64_t ordinal) const {
  if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= element_names.size()) {
    throw EPropertyError("Invalid property value");
  }
  return element_names[static_cast<std::size_t>(ordinal)];
}

std::int64_t PropertyInfo::ElementOrdinal(std::string_view element) const {
  for (std::size_t i = 0; i < element_names.size(); ++i) {
    if (element_names[i] == element) return static_cast<std::int64_t>(i);
  }
  throw EPropertyError("Invalid property value");
}

ClassInfo::ClassInfo(std::string name, const ClassInfo* parent, Factory factory, std::vector<PropertyInfo> properties)
    : name_(std::move(name)), parent_(parent), factory_(std::move(factory)), own_properties_(std::move(properties)) {}

std::unique_ptr<Persistent> ClassInfo::Create() const {
  if (!factory_) throw EClassNotFound("Cannot create an instance of abstract class " + name_);
  return factory_();
}

bool ClassInfo::InheritsFrom(std::string_view class_name) const {
  for (const ClassInfo* c = this; c != nullptr; c = c->parent_) {
    if (c->name_ == class_name) return true;
  }
  return false;
}

bool ClassInfo::InheritsFrom(const ClassInfo& other) const {
  for (const ClassInfo* c = this; c != nullptr; c = c->parent_) {
    if (c == &other) return true;
  }
  return false;
}

std::vector<const PropertyInfo*> ClassInfo::Properties() const {
  std::vector<const PropertyInfo*> result =
      parent_ != nullptr ? parent_->Properties() : std::vector<const PropertyInfo*>{};
  for (const PropertyInfo& property : own_properties_) {
    // A redeclared property (same name) replaces the inherited one in place.
    bool replaced = false;
    for (const PropertyInfo*& existing : result) {
      if (existing->name == property.name) {
        existing = &property;
        replaced = true;
      }
    }
    if (!replaced) result.push_back(&property);
  }
  return result;
}

const PropertyInfo* ClassInfo::FindProperty(std::string_view name) const {
  for (const ClassInfo* c = this; c != nullptr; c = c->parent_) {
    for (const PropertyInfo& property : c->own_properties_) {
      if (property.name == name) return &property;
    }
  }
  return nullptr;
}

namespace {

struct Registry {
  std::mutex lock;
  std::map<std::string, const ClassInfo*, std::less<>> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterComponentClass(const ClassInfo& info) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  registry.classes[info.Name()] = &info;
}

void UnregisterComponentClass(const ClassInfo& info) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.classes.find(info.Name());
  if (found != registry.classes.end() && found->second == &info) registry.classes.erase(found);
}

const ClassInfo* FindClass(std::string_view name) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.classes.find(name);
  return found == registry.classes.end() ? nullptr : found->second;
}

const ClassInfo& GetClass(std::string_view name) {
  if (const ClassInfo* info = FindClass(name)) return *info;
  throw EClassNotFound("Class " + std::string(name) + " not found");
}

}  // namespace vellum
