// Popup menus. Items linked to an action show the action's caption and
// state as it is when the menu opens; choosing one executes the action.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/component/component.h"

namespace vellum::gui {

class TAction;

class TMenuItem : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  const std::string& Caption() const;
  void SetCaption(const std::string& value) { caption_ = value; }
  bool Enabled() const;
  void SetEnabled(bool value) { enabled_ = value; }
  bool Visible() const;
  void SetVisible(bool value) { visible_ = value; }
  int HelpContext() const { return help_context_; }
  void SetHelpContext(int value) { help_context_ = value; }
  TAction* Action() const { return action_; }
  void SetAction(TAction* action);

  // Sub-items (a submenu), not owned: items are owned by the form.
  const std::vector<TMenuItem*>& Items() const { return items_; }
  void Add(TMenuItem& item);

  std::function<void(Component& sender)> OnClick;
  // Executes the linked action, or OnClick.
  void Click();

 protected:
  void Notification(Component& component, Operation operation) override;

 private:
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  int help_context_ = 0;
  TAction* action_ = nullptr;
  std::vector<TMenuItem*> items_;
};

class TPopupMenu : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  TPopupMenu();
  TMenuItem& Items() { return *items_; }
  const TMenuItem& Items() const { return *items_; }

  std::function<void(Component& sender)> OnPopup;

  // Fires OnPopup, shows the menu at a screen point over `owner` and runs the
  // chosen item. Answers the chosen item, or null.
  TMenuItem* Popup(int x, int y, HWND owner);
  // Builds the menu as it would show now (visible items, their captions and
  // state); used by Popup and by tests that cannot drive a tracked menu.
  struct Entry {
    TMenuItem* item;
    std::string caption;
    bool enabled;
  };
  std::vector<Entry> VisibleEntries() const;

  // Stands in for the user in the tracked menu (tests, where nobody can pick
  // from a real menu): answers the index of the chosen entry, or -1 for none.
  using Chooser = std::function<int(const std::vector<Entry>& entries)>;
  static void SetChooser(Chooser chooser);

 private:
  TMenuItem* items_ = nullptr;  // owned as a component of this menu
};

}  // namespace vellum::gui
