#include "runtime/gui/menu_win.h"

#include <algorithm>

#include "runtime/component/class_builder.h"
#include "runtime/gui/action_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::gui {

const ClassInfo& TMenuItem::StaticClass() {
  static const ClassInfo info = ClassBuilder<TMenuItem>("TMenuItem", &Component::StaticClass())
                                    .Property("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption)
                                    .Property("Enabled", &TMenuItem::Enabled, &TMenuItem::SetEnabled)
                                    .Property("Visible", &TMenuItem::Visible, &TMenuItem::SetVisible)
                                    .Property("HelpContext", &TMenuItem::HelpContext, &TMenuItem::SetHelpContext)
                                    .Reference<TAction>("Action", &TMenuItem::Action, &TMenuItem::SetAction)
                                    .Event("OnClick", &TMenuItem::OnClick)
                                    .Build();
  return info;
}

const std::string& TMenuItem::Caption() const {
  return action_ != nullptr ? action_->Caption() : caption_;
}
bool TMenuItem::Enabled() const {
  return action_ != nullptr ? action_->Enabled() : enabled_;
}
bool TMenuItem::Visible() const {
  return action_ != nullptr ? action_->Visible() : visible_;
}

void TMenuItem::SetAction(TAction* action) {
  action_ = action;
  if (action != nullptr) FreeNotification(*action);
}

void TMenuItem::Add(TMenuItem& item) {
  items_.push_back(&item);
  FreeNotification(item);
}

void TMenuItem::Click() {
  if (action_ != nullptr) {
    action_->Execute();
  } else if (OnClick) {
    OnClick(*this);
  }
}

void TMenuItem::Notification(Component& component, Operation operation) {
  if (operation != Operation::kRemove) return;
  if (&component == action_) action_ = nullptr;
  items_.erase(std::remove(items_.begin(), items_.end(), &component), items_.end());
}

const ClassInfo& TPopupMenu::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TPopupMenu>("TPopupMenu", &Component::StaticClass()).Event("OnPopup", &TPopupMenu::OnPopup).Build();
  return info;
}

TPopupMenu::TPopupMenu() : items_(&CreateOwned<TMenuItem>()) {}

std::vector<TPopupMenu::Entry> TPopupMenu::VisibleEntries() const {
  std::vector<Entry> entries;
  for (TMenuItem* item : items_->Items()) {
    if (item->Visible()) entries.push_back({item, item->Caption(), item->Enabled()});
  }
  return entries;
}

namespace {
TPopupMenu::Chooser& TheChooser() {
  static TPopupMenu::Chooser chooser;
  return chooser;
}
}  // namespace

void TPopupMenu::SetChooser(Chooser chooser) {
  TheChooser() = std::move(chooser);
}

TMenuItem* TPopupMenu::Popup(int x, int y, HWND owner) {
  if (OnPopup) OnPopup(*this);
  const std::vector<Entry> entries = VisibleEntries();
  if (TheChooser()) {
    const int index = TheChooser()(entries);
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size() || !entries[index].enabled) return nullptr;
    entries[index].item->Click();
    return entries[index].item;
  }
  const win::UniqueMenu menu(CreatePopupMenu());
  if (!menu) return nullptr;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const UINT flags = MF_STRING | (entries[i].enabled ? MF_ENABLED : MF_GRAYED);
    AppendMenuA(menu.get(), entries[i].caption == "-" ? MF_SEPARATOR : flags, i + 1, entries[i].caption.c_str());
  }
  // TrackPopupMenu needs its owner in the foreground to close on a click outside.
  SetForegroundWindow(owner);
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, owner, nullptr));
  PostMessageA(owner, WM_NULL, 0, 0);
  if (chosen == 0 || chosen > entries.size()) return nullptr;
  TMenuItem* item = entries[chosen - 1].item;
  item->Click();
  return item;
}

}  // namespace vellum::gui
