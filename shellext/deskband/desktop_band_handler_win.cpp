#include "shellext/deskband/desktop_band_handler_win.h"

#include "runtime/component/class_builder.h"

namespace vellum::shellext {

const ClassInfo& DUduzDesktopBandHandler::StaticClass() {
  using T = DUduzDesktopBandHandler;
  static const ClassInfo info =
      ClassBuilder<T>("DUduzDesktopBandHandler", &DUduzDesktopBandComponent::StaticClass())
          .Property("MenuText", &T::MenuText, &T::SetMenuText)
          .Event("OnGetBandForm", static_cast<TGetBandFormEvent T::*>(&T::OnGetBandForm))
          .Reference<DUduzContextMenuHandler>(
              "ContextMenu", [](const T& band) { return const_cast<T&>(band).GetContextMenu(); }, &T::SetContextMenu)
          .Build();
  return info;
}

DUduzDesktopBandHandler::~DUduzDesktopBandHandler() {
  if (context_menu_ != nullptr && !owns_context_menu_) {
    context_menu_->SetController(nullptr);
    RemoveFreeNotification(*context_menu_);
  }
  context_menu_ = nullptr;
  owned_context_menu_.reset();
}

DUduzContextMenuHandler* DUduzDesktopBandHandler::GetContextMenu() {
  if (context_menu_ == nullptr) {
    auto created = std::make_unique<DUduzContextMenuHandler>();
    DUduzContextMenuHandler* handler = created.get();
    SetContextMenu(handler);
    owned_context_menu_ = std::move(created);
    owns_context_menu_ = true;
  }
  return context_menu_;
}

void DUduzDesktopBandHandler::SetContextMenu(DUduzContextMenuHandler* handler) {
  if (context_menu_ != nullptr) {
    if (owns_context_menu_) {
      owned_context_menu_.reset();
    } else {
      context_menu_->SetController(nullptr);
      RemoveFreeNotification(*context_menu_);
    }
  }
  context_menu_ = handler;
  owns_context_menu_ = false;
  if (handler != nullptr) {
    handler->SetRefCounted(true);
    handler->SetController(Unknown());
    FreeNotification(*handler);
  }
}

void* DUduzDesktopBandHandler::FindInterface(const IID& iid) {
  if (IsEqualIID(iid, IID_IContextMenu3)) return static_cast<IContextMenu3*>(GetContextMenu());
  if (IsEqualIID(iid, IID_IContextMenu2)) return static_cast<IContextMenu2*>(GetContextMenu());
  if (IsEqualIID(iid, IID_IContextMenu)) return static_cast<IContextMenu*>(GetContextMenu());
  return DUduzDesktopBandComponent::FindInterface(iid);
}

void DUduzDesktopBandHandler::Notification(Component& component, Operation operation) {
  DUduzDesktopBandComponent::Notification(component, operation);
  if (operation == Operation::kRemove && &component == context_menu_) {
    if (owns_context_menu_) {
      owned_context_menu_.release();  // it is being destroyed right now
      owns_context_menu_ = false;
    }
    context_menu_ = nullptr;
  }
}

}  // namespace vellum::shellext
