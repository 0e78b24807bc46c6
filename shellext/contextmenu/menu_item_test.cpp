#include "shellext/contextmenu/menu_item.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum::shellext {
namespace {

// A tree: three top items, the second with two sub-items, one of which has a
// sub-item of its own; each item's click handler logs its caption path.
void BuildTree(Component& owner, std::vector<std::string>* log) {
  auto add = [log](Component& parent, const std::string& caption) -> DUduzMenuItem& {
    auto& item = parent.CreateOwned<DUduzMenuItem>();
    item.SetCaption(caption);
    if (log != nullptr)
      item.OnClick = [log, caption](DUduzMenuItem& sender) { log->push_back(caption + "@" + sender.Caption()); };
    return item;
  };
  add(owner, "Open");
  auto& send = add(owner, "Send");
  add(send, "Mail");
  add(add(send, "Upload"), "FTP");
  add(owner, "About");
}

std::vector<DUduzMenuItem*> Flatten(const Component& owner) {
  std::vector<DUduzMenuItem*> all;
  for (DUduzMenuItem* item : MenuItemsOf(owner)) {
    all.push_back(item);
    for (DUduzMenuItem* below : Flatten(*item)) all.push_back(below);
  }
  return all;
}

TEST(MenuItemEvents, EveryItemOfTheCopyGetsTheHandlerOfItsCounterpart) {
  std::vector<std::string> log;
  Component from;
  BuildTree(from, &log);
  Component to;
  BuildTree(to, nullptr);
  // A component that is not an item does not count as one.
  to.CreateOwned<Component>().SetName("NotAnItem");

  CopyMenuItemEvents(from, to);
  const auto items = Flatten(to);
  ASSERT_EQ(items.size(), 6u);
  for (DUduzMenuItem* item : items) item->Click();
  EXPECT_EQ(log, (std::vector<std::string>{"Open@Open", "Send@Send", "Mail@Mail", "Upload@Upload", "FTP@FTP",
                                           "About@About"}));
}

TEST(MenuItemEvents, TreesThatDifferAtAnyLevelFailWithTheCloneError) {
  Component from;
  BuildTree(from, nullptr);

  Component fewer_at_top;
  BuildTree(fewer_at_top, nullptr);
  fewer_at_top.DestroyComponent(*fewer_at_top.Components(2));
  try {
    CopyMenuItemEvents(from, fewer_at_top);
    FAIL();
  } catch (const EEventCloneError& e) {
    EXPECT_EQ(e.Message(), "Error cloning EasyMenuItem Events");
  }

  Component extra_deep_down;
  BuildTree(extra_deep_down, nullptr);
  DUduzMenuItem& upload = *MenuItemsOf(*MenuItemsOf(extra_deep_down)[1])[1];
  upload.CreateOwned<DUduzMenuItem>().SetCaption("SFTP");
  EXPECT_THROW(CopyMenuItemEvents(from, extra_deep_down), EEventCloneError);

  Component empty_from;
  Component empty_to;
  EXPECT_NO_THROW(CopyMenuItemEvents(empty_from, empty_to));
}

}  // namespace
}  // namespace vellum::shellext
