#include "runtime/component/component.h"

#include <algorithm>
#include <cctype>

#include "runtime/component/class_builder.h"
#include "runtime/exception.h"

namespace vellum {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsIdentifier(const std::string& name) {
  if (name.empty()) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  if (!(std::isalpha(first) || first == '_')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u == '_';
  });
}

}  // namespace

const ClassInfo& Component::StaticClass() {
  static const ClassInfo info = ClassBuilder<Component>("TComponent", &Persistent::StaticClass())
                                    .Property("Name", &Component::Name, &Component::SetName)
                                    .Property("Tag", &Component::Tag, &Component::SetTag)
                                    .Build();
  return info;
}

Component::~Component() {
  destroying_ = true;
  // Tell everyone who asked, then cut the links both ways so no one is told
  // about a component that no longer exists.
  const std::vector<Component*> watchers = free_notifies_;
  for (Component* watcher : watchers) {
    watcher->Notification(*this, Operation::kRemove);
    watcher->Unlink(*this);
  }
  free_notifies_.clear();
  DestroyComponents();
}

void Component::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsIdentifier(name)) {
    throw EComponentError("'" + name + "' is not a valid component name");
  }
  if (!name.empty() && owner_ != nullptr) {
    Component* existing = owner_->FindComponent(name);
    if (existing != nullptr && existing != this) {
      throw EComponentError("A component named " + name + " already exists");
    }
  }
  name_ = name;
}

Component* Component::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return owned_[static_cast<std::size_t>(index)].get();
}

Component* Component::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const auto& owned : owned_) {
    if (SameName(owned->name_, name)) return owned.get();
  }
  return nullptr;
}

void Component::InsertComponent(std::unique_ptr<Component> component) {
  if (!component) return;
  if (component->owner_ != nullptr) throw EComponentError("Component already has an owner");
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr) {
    throw EComponentError("A component named " + component->name_ + " already exists");
  }
  component->owner_ = this;
  Component& inserted = *component;
  owned_.push_back(std::move(component));
  Notification(inserted, Operation::kInsert);
}

std::unique_ptr<Component> Component::RemoveComponent(Component& component) {
  const auto found = std::find_if(owned_.begin(), owned_.end(), [&](const auto& p) { return p.get() == &component; });
  if (found == owned_.end()) throw EComponentError("Component is not owned here");
  Notification(component, Operation::kRemove);
  std::unique_ptr<Component> released = std::move(*found);
  owned_.erase(found);
  released->owner_ = nullptr;
  return released;
}

void Component::DestroyComponent(Component& component) {
  RemoveComponent(component).reset();
}

void Component::DestroyComponents() {
  while (!owned_.empty()) {
    std::unique_ptr<Component> last = std::move(owned_.back());
    owned_.pop_back();
    Notification(*last, Operation::kRemove);
    last->owner_ = nullptr;
    last.reset();
  }
}

void Component::FreeNotification(Component& other) {
  if (&other == this) return;
  if (std::find(other.free_notifies_.begin(), other.free_notifies_.end(), this) == other.free_notifies_.end()) {
    other.free_notifies_.push_back(this);
  }
  if (std::find(free_notifies_.begin(), free_notifies_.end(), &other) == free_notifies_.end()) {
    free_notifies_.push_back(&other);
  }
}

void Component::RemoveFreeNotification(Component& other) {
  Unlink(other);
  other.Unlink(*this);
}

void Component::Unlink(Component& other) {
  free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), &other), free_notifies_.end());
}

void Component::EndLoading() {
  loading_ = false;
  Loaded();
}

void Component::Notification(Component&, Operation) {}

bool Component::StoresChild(const Component&) const {
  return true;
}

}  // namespace vellum
