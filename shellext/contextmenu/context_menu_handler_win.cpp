#include "shellext/contextmenu/context_menu_handler_win.h"

#include <string>
#include <vector>

#include "runtime/component/class_builder.h"

namespace vellum::shellext {

namespace {

void Walk(const DUduzMenuItem& item, std::vector<DUduzMenuItem*>& order) {
  for (DUduzMenuItem* child : item.SubItems()) {
    order.push_back(child);
    Walk(*child, order);
  }
}

// Inserts the items below `parent` into `menu` from position `index` on,
// numbering them from `next_command`; counts all, inserts those up to
// `last_command`.
void InsertItems(const DUduzMenuItem& parent, HMENU menu, UINT index, UINT& next_command, UINT last_command) {
  for (DUduzMenuItem* item : parent.SubItems()) {
    const UINT command = next_command++;
    HMENU popup = nullptr;
    if (!item->SubItems().empty()) {
      popup = CreatePopupMenu();
      InsertItems(*item, popup, 0, next_command, last_command);
    }
    if (command > last_command) {
      if (popup != nullptr) DestroyMenu(popup);
      continue;
    }
    std::string caption = item->Caption();
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | (popup != nullptr ? MIIM_SUBMENU : 0);
    info.wID = command;
    info.dwTypeData = caption.data();
    info.fState = item->Enabled() ? MFS_ENABLED : MFS_DISABLED;
    info.hSubMenu = popup;
    if (InsertMenuItemA(menu, index, TRUE, &info)) {
      ++index;
    } else if (popup != nullptr) {
      DestroyMenu(popup);
    }
  }
}

HRESULT CopyText(const std::string& text, UINT type, CHAR* name, UINT size) {
  if (name == nullptr || size == 0) return E_INVALIDARG;
  const bool wide = type == GCS_VERBW || type == GCS_HELPTEXTW;
  if (wide) {
    auto* target = reinterpret_cast<wchar_t*>(name);
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, target, static_cast<int>(size));
    if (length == 0) target[size - 1] = L'\0';  // too long: cut, still terminated
    if (length == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return E_FAIL;
    return S_OK;
  }
  lstrcpynA(name, text.c_str(), static_cast<int>(size));
  return S_OK;
}

}  // namespace

const ClassInfo& DUduzContextMenuHandler::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<DUduzContextMenuHandler>("DUduzContextMenuHandler", &DUduzRegisterableShellComponent::StaticClass())
          .Event("OnBeforeBuildMenu", &DUduzContextMenuHandler::OnBeforeBuildMenu)
          .Event("OnBeforePopup", &DUduzContextMenuHandler::OnBeforePopup)
          .Build();
  return info;
}

void* DUduzContextMenuHandler::FindInterface(const IID& iid) {
  if (void* found = InterfaceTable<IContextMenu3, IContextMenu2, IContextMenu>::Find(this, iid)) return found;
  return DUduzRegisterableShellComponent::FindInterface(iid);
}

DUduzMenuItem& DUduzContextMenuHandler::Items() {
  if (auto* root = dynamic_cast<DUduzMenuItem*>(FindComponent(kRootItemName))) return *root;
  auto& root = CreateOwned<DUduzMenuItem>();
  root.SetName(kRootItemName);
  return root;
}

const DUduzMenuItem* DUduzContextMenuHandler::Root() const {
  return dynamic_cast<const DUduzMenuItem*>(FindComponent(kRootItemName));
}

DUduzMenuItem* DUduzContextMenuHandler::ItemAt(UINT_PTR offset) const {
  const DUduzMenuItem* root = Root();
  if (root == nullptr) return nullptr;
  std::vector<DUduzMenuItem*> order;
  Walk(*root, order);
  return offset < order.size() ? order[offset] : nullptr;
}

DUduzMenuItem* DUduzContextMenuHandler::FindVerb(const std::string& verb) const {
  const DUduzMenuItem* root = Root();
  if (root == nullptr) return nullptr;
  std::vector<DUduzMenuItem*> order;
  Walk(*root, order);
  for (DUduzMenuItem* item : order) {
    if (!item->Verb().empty() && lstrcmpiA(item->Verb().c_str(), verb.c_str()) == 0) return item;
  }
  return nullptr;
}

CloneCopyStep DUduzContextMenuHandler::CopyStep() const {
  return CopyMenuItemEvents;
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::QueryContextMenu(HMENU menu, UINT index, UINT first_command,
                                                                    UINT last_command, UINT flags) {
  try {
    menu_flags_ = flags;
    first_command_ = first_command;
    if (OnBeforeBuildMenu) OnBeforeBuildMenu(*this);
    UINT next_command = first_command;
    if (const DUduzMenuItem* root = Root()) InsertItems(*root, menu, index, next_command, last_command);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, next_command - first_command + 1);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  try {
    if (info == nullptr) return E_INVALIDARG;
    DUduzMenuItem* item = nullptr;
    if (IS_INTRESOURCE(info->lpVerb)) {
      item = ItemAt(LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)));
    } else {
      item = FindVerb(info->lpVerb);
    }
    if (item == nullptr) return E_INVALIDARG;
    item->Click();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name,
                                                                    UINT size) {
  try {
    const DUduzMenuItem* item = ItemAt(command);
    switch (type) {
      case GCS_VALIDATEA:
      case GCS_VALIDATEW: return item != nullptr ? S_OK : S_FALSE;
      case GCS_VERBA:
      case GCS_HELPTEXTA:
        if (item == nullptr) return E_NOTIMPL;
        return CopyText(type == GCS_VERBA ? item->Verb() : item->HelpText(), type, name, size);
      case GCS_VERBW:
      case GCS_HELPTEXTW:
        if (item == nullptr) return E_INVALIDARG;
        return CopyText(type == GCS_VERBW ? item->Verb() : item->HelpText(), type, name, size);
      default: return E_INVALIDARG;
    }
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::HandleMenuMsg(UINT message, WPARAM wparam, LPARAM lparam) {
  return HandleMenuMsg2(message, wparam, lparam, nullptr);
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::HandleMenuMsg2(UINT message, WPARAM wparam, LPARAM,
                                                                  LRESULT* result) {
  try {
    if (result != nullptr) *result = 0;
    // Items are inserted as plain strings, so the menu draws and measures
    // them itself; only the popup notice concerns the handler.
    if (message == WM_INITMENUPOPUP && OnBeforePopup) OnBeforePopup(*this, reinterpret_cast<HMENU>(wparam));
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace vellum::shellext
