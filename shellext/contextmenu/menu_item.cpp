#include "shellext/contextmenu/menu_item.h"

#include "runtime/component/class_builder.h"
#include "runtime/component/property_access.h"

namespace vellum::shellext {

const ClassInfo& DUduzMenuItem::StaticClass() {
  static const ClassInfo info = ClassBuilder<DUduzMenuItem>("DUduzMenuItem", &Component::StaticClass())
                                    .Property("Caption", &DUduzMenuItem::Caption, &DUduzMenuItem::SetCaption)
                                    .Property("Verb", &DUduzMenuItem::Verb, &DUduzMenuItem::SetVerb)
                                    .Property("HelpText", &DUduzMenuItem::HelpText, &DUduzMenuItem::SetHelpText)
                                    .Property("Enabled", &DUduzMenuItem::Enabled, &DUduzMenuItem::SetEnabled)
                                    .Event("OnClick", &DUduzMenuItem::OnClick)
                                    .Build();
  return info;
}

void DUduzMenuItem::Click() {
  if (OnClick) OnClick(*this);
}

std::vector<DUduzMenuItem*> DUduzMenuItem::SubItems() const {
  return MenuItemsOf(*this);
}

std::vector<DUduzMenuItem*> MenuItemsOf(const Component& owner) {
  std::vector<DUduzMenuItem*> items;
  for (int i = 0; i < owner.ComponentCount(); ++i) {
    if (auto* item = dynamic_cast<DUduzMenuItem*>(owner.Components(i))) items.push_back(item);
  }
  return items;
}

void CopyMenuItemEvents(const Component& from, Component& to) {
  const std::vector<DUduzMenuItem*> sources = MenuItemsOf(from);
  const std::vector<DUduzMenuItem*> targets = MenuItemsOf(to);
  if (sources.size() != targets.size()) throw EEventCloneError("Error cloning EasyMenuItem Events");
  for (std::size_t i = 0; i < sources.size(); ++i) {
    CopyEventHandlers(*sources[i], *targets[i]);
    CopyMenuItemEvents(*sources[i], *targets[i]);
  }
}

}  // namespace vellum::shellext
