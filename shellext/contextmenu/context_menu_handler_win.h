// The context menu handler: a framework component that answers the shell's
// context-menu interfaces from a tree of menu items. The desk band hands
// these interfaces on to it; this server designs no items, so the band adds
// no commands to the shell's menu.
#pragma once

#include <shlobj.h>
#include <shobjidl.h>

#include <functional>

#include "shellext/contextmenu/menu_item.h"
#include "shellext/factory/registerable_shell_component_win.h"

namespace vellum::shellext {

class DUduzContextMenuHandler;
using TContextMenuEvent = std::function<void(DUduzContextMenuHandler& sender)>;
using TContextMenuPopupEvent = std::function<void(DUduzContextMenuHandler& sender, HMENU menu)>;

class DUduzContextMenuHandler : public DUduzRegisterableShellComponent, public IContextMenu3 {
  VELLUM_PERSISTENT_CLASS()

 public:
  static constexpr char kRootItemName[] = "RootNodeItem";

  VELLUM_COM_UNKNOWN_METHODS()

  // The root of the item tree, made on first use; its sub-items are the
  // menu's top level.
  DUduzMenuItem& Items();
  // The item at `offset` from the first command, counting every item below
  // the root depth first; null past the end.
  DUduzMenuItem* ItemAt(UINT_PTR offset) const;

  TContextMenuEvent OnBeforeBuildMenu;
  TContextMenuPopupEvent OnBeforePopup;

  // The flags and first command of the last QueryContextMenu.
  UINT MenuFlags() const { return menu_flags_; }
  UINT FirstCommand() const { return first_command_; }

  // Cloning copies the item tree's click handlers too.
  CloneCopyStep CopyStep() const override;

  // IContextMenu
  HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT index, UINT first_command, UINT last_command,
                                             UINT flags) override;
  HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* name,
                                             UINT size) override;
  // IContextMenu2, IContextMenu3
  HRESULT STDMETHODCALLTYPE HandleMenuMsg(UINT message, WPARAM wparam, LPARAM lparam) override;
  HRESULT STDMETHODCALLTYPE HandleMenuMsg2(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 protected:
  void* FindInterface(const IID& iid) override;

 private:
  const DUduzMenuItem* Root() const;
  DUduzMenuItem* FindVerb(const std::string& verb) const;

  UINT menu_flags_ = 0;
  UINT first_command_ = 0;
};

}  // namespace vellum::shellext
