// The items of a context menu handler: a tree of components (an item's
// sub-items are the components it owns), so the tree streams with its
// handler. Streaming does not carry handlers, so a cloned handler gets its
// items' click handlers by walking both trees side by side.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/component/component.h"
#include "runtime/exception.h"

namespace vellum::shellext {

VELLUM_EXCEPTION_CLASS(EEventCloneError, Exception);

class DUduzMenuItem;
using TMenuItemClickEvent = std::function<void(DUduzMenuItem& sender)>;

class DUduzMenuItem : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }
  // The language-independent command name the shell may ask for.
  const std::string& Verb() const { return verb_; }
  void SetVerb(const std::string& value) { verb_ = value; }
  const std::string& HelpText() const { return help_text_; }
  void SetHelpText(const std::string& value) { help_text_ = value; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

  TMenuItemClickEvent OnClick;
  void Click();

  // The items directly below this one, in creation order.
  std::vector<DUduzMenuItem*> SubItems() const;

 private:
  std::string caption_;
  std::string verb_;
  std::string help_text_;
  bool enabled_ = true;
};

// The menu items `owner` holds directly (other owned components are not items).
std::vector<DUduzMenuItem*> MenuItemsOf(const Component& owner);

// Gives every item below `to` the event handlers of the item at the same
// place below `from`, level by level. Raises EEventCloneError "Error cloning
// EasyMenuItem Events" when the trees differ in the number of items at any
// level; items copied before the mismatch keep their handlers.
void CopyMenuItemEvents(const Component& from, Component& to);

}  // namespace vellum::shellext
