// Component: a named persistent object in an ownership tree. An owner frees
// the components it owns (last created first); components that asked for a
// free notification hear of each other's destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/component/persistent.h"

namespace vellum {

enum class Operation { kInsert, kRemove };

class Component : public Persistent {
  VELLUM_PERSISTENT_CLASS()

 public:
  Component() = default;
  ~Component() override;

  const std::string& Name() const { return name_; }
  // Raises EComponentError for a name that is not an identifier
  // ("'x y' is not a valid component name") or is taken among the owner's
  // components ("A component named X already exists").
  virtual void SetName(const std::string& name);
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  Component* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(owned_.size()); }
  Component* Components(int index) const;
  // Case-insensitive, like every name lookup of the runtime.
  Component* FindComponent(const std::string& name) const;

  // Makes a component of class T owned by this one and returns it.
  template <typename T, typename... Args>
  T& CreateOwned(Args&&... args) {
    auto created = std::make_unique<T>(std::forward<Args>(args)...);
    T& result = *created;
    InsertComponent(std::move(created));
    return result;
  }
  void InsertComponent(std::unique_ptr<Component> component);
  // Gives up ownership of `component` and hands it to the caller.
  std::unique_ptr<Component> RemoveComponent(Component& component);
  // Frees an owned component now.
  void DestroyComponent(Component& component);
  void DestroyComponents();

  // Links the two components so that each is told (Notification with
  // kRemove) when the other is destroyed.
  void FreeNotification(Component& other);
  void RemoveFreeNotification(Component& other);

  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }

  // Streaming calls these around reading this component's properties.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

 protected:
  virtual void Notification(Component& component, Operation operation);
  // Called once after streaming has read every property and child.
  virtual void Loaded() {}
  // Owned components that are streamed with this one (all, by default).
  virtual bool StoresChild(const Component& child) const;
  friend class ComponentWriter;

 private:
  void Unlink(Component& other);

  std::string name_;
  std::intptr_t tag_ = 0;
  Component* owner_ = nullptr;
  std::vector<std::unique_ptr<Component>> owned_;
  std::vector<Component*> free_notifies_;
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace vellum
