// Actions: one place for a command's caption, state and handler, shared by
// the menu items and controls that show it.
#pragma once

#include <functional>
#include <string>

#include "runtime/component/component.h"

namespace vellum::gui {

class TActionList;

class TAction : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  int ImageIndex() const { return image_index_; }
  void SetImageIndex(int value) { image_index_ = value; }
  TActionList* ActionList() const { return action_list_; }
  void SetActionList(TActionList* list);

  std::function<void(Component& sender)> OnExecute;
  std::function<void(Component& sender)> OnUpdate;

  // Runs OnExecute when the action is enabled and has one; answers whether it ran.
  bool Execute();
  // Lets OnUpdate adjust the state; answers whether it had a handler.
  bool Update();

 private:
  friend class TActionList;
  std::string caption_;
  std::string hint_;
  bool enabled_ = true;
  bool visible_ = true;
  int image_index_ = -1;
  TActionList* action_list_ = nullptr;
};

class TActionList : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  const std::vector<TAction*>& Actions() const { return actions_; }
  void Add(TAction& action);
  void Remove(TAction& action);
  // Updates every action, in list order.
  void UpdateActions();

 protected:
  void Notification(Component& component, Operation operation) override;

 private:
  std::vector<TAction*> actions_;
};

}  // namespace vellum::gui
