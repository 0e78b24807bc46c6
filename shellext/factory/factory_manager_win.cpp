#include "shellext/factory/factory_manager_win.h"

#include <algorithm>
#include <memory>

#include "runtime/component/class_builder.h"
#include "shellext/factory/clone_component.h"
#include "shellext/factory/factory_helper_win.h"
#include "shellext/registration/registry_guid_win.h"

namespace vellum::shellext {

const ClassInfo& DUduzFactoryManager::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzFactoryManager>("DUduzFactoryManager", &DUduzInterfacedShellComponent::StaticClass())
          .Event("OnRegisterServer", &DUduzFactoryManager::OnRegisterServer)
          .Event("OnUnRegisterServer", &DUduzFactoryManager::OnUnRegisterServer)
          .Build();
  return info;
}

void DUduzFactoryManager::AddToComponentList(Component& component) {
  component_list_.push_back(&component);
  FreeNotification(component);
}

void DUduzFactoryManager::RemoveFromComponentList(Component& component) {
  component_list_.erase(std::remove(component_list_.begin(), component_list_.end(), &component), component_list_.end());
  RemoveFreeNotification(component);
}

void DUduzFactoryManager::Notification(Component& component, Operation operation) {
  DUduzInterfacedShellComponent::Notification(component, operation);
  if (operation == Operation::kRemove) {
    component_list_.erase(std::remove(component_list_.begin(), component_list_.end(), &component),
                          component_list_.end());
  }
}

win::ComPtr<IClassFactory> DUduzFactoryManager::GetClassObject(const CLSID& clsid) const {
  const std::string wanted = GuidToRegistryString(clsid);
  for (Component* component : component_list_) {
    const auto* template_component = dynamic_cast<const DUduzRegisterableShellComponent*>(component);
    if (template_component == nullptr || template_component->Registration().Clsid() != wanted) continue;

    std::unique_ptr<Component> copy = CloneComponent(*template_component, template_component->CopyStep());
    if (dynamic_cast<DUduzRegisterableShellComponent*>(copy.get()) == nullptr) {
      throw EComponentError("Cannot clone " + template_component->ClassName());
    }
    std::unique_ptr<DUduzRegisterableShellComponent> pending(
        static_cast<DUduzRegisterableShellComponent*>(copy.release()));

    auto factory = std::make_unique<TFactoryHelper>(std::move(pending));
    factory->SetRefCounted(true);
    factory->_AddRef();  // the count the caller's pointer holds
    // From here the factory's own count decides its lifetime.
    return win::ComPtr<IClassFactory>::Attach(factory.release());
  }
  return {};
}

void DUduzFactoryManager::RegisterAllServers() {
  const std::vector<Component*> templates = component_list_;
  for (Component* component : templates) {
    if (auto* server = dynamic_cast<DUduzRegisterableShellComponent*>(component)) server->RegisterServer();
  }
  if (OnRegisterServer) OnRegisterServer(*this);
}

void DUduzFactoryManager::UnregisterAllServers() {
  const std::vector<Component*> templates = component_list_;
  for (Component* component : templates) {
    if (auto* server = dynamic_cast<DUduzRegisterableShellComponent*>(component)) server->UnregisterServer();
  }
  if (OnUnRegisterServer) OnUnRegisterServer(*this);
}

}  // namespace vellum::shellext
