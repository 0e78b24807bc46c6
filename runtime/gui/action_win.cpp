#include "runtime/gui/action_win.h"

#include <algorithm>

#include "runtime/component/class_builder.h"

namespace vellum::gui {

const ClassInfo& TAction::StaticClass() {
  static const ClassInfo info = ClassBuilder<TAction>("TAction", &Component::StaticClass())
                                    .Property("Caption", &TAction::Caption, &TAction::SetCaption)
                                    .Property("Enabled", &TAction::Enabled, &TAction::SetEnabled)
                                    .Property("Visible", &TAction::Visible, &TAction::SetVisible)
                                    .Property("Hint", &TAction::Hint, &TAction::SetHint)
                                    .Property("ImageIndex", &TAction::ImageIndex, &TAction::SetImageIndex)
                                    .Reference<TActionList>("ActionList", &TAction::ActionList, &TAction::SetActionList)
                                    .Event("OnExecute", &TAction::OnExecute)
                                    .Event("OnUpdate", &TAction::OnUpdate)
                                    .Build();
  return info;
}

void TAction::SetActionList(TActionList* list) {
  if (list == action_list_) return;
  if (action_list_ != nullptr) action_list_->Remove(*this);
  if (list != nullptr) list->Add(*this);
}

bool TAction::Execute() {
  Update();
  if (!enabled_ || !OnExecute) return false;
  OnExecute(*this);
  return true;
}

bool TAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(*this);
  return true;
}

const ClassInfo& TActionList::StaticClass() {
  static const ClassInfo info = ClassBuilder<TActionList>("TActionList", &Component::StaticClass()).Build();
  return info;
}

void TActionList::Add(TAction& action) {
  if (std::find(actions_.begin(), actions_.end(), &action) != actions_.end()) return;
  if (action.action_list_ != nullptr && action.action_list_ != this) action.action_list_->Remove(action);
  actions_.push_back(&action);
  action.action_list_ = this;
  FreeNotification(action);
}

void TActionList::Remove(TAction& action) {
  actions_.erase(std::remove(actions_.begin(), actions_.end(), &action), actions_.end());
  if (action.action_list_ == this) action.action_list_ = nullptr;
}

void TActionList::UpdateActions() {
  for (TAction* action : std::vector<TAction*>(actions_)) action->Update();
}

void TActionList::Notification(Component& component, Operation operation) {
  if (operation != Operation::kRemove) return;
  actions_.erase(std::remove(actions_.begin(), actions_.end(), &component), actions_.end());
}

}  // namespace vellum::gui
