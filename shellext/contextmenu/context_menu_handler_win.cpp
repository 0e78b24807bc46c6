#include "shellext/contextmenu/context_menu_handler_win.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "runtime/component/class_builder.h"
#include "runtime/win/text_conversion_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/factory/com_boundary_win.h"

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
// `last_command`. A sub-menu is owned here until `menu` takes it, so one
// whose filling fails goes with the unwinding.
void InsertItems(const DUduzMenuItem& parent, HMENU menu, UINT index, UINT& next_command, UINT last_command) {
  for (DUduzMenuItem* item : parent.SubItems()) {
    const UINT command = next_command++;
    win::UniqueMenu popup;
    if (!item->SubItems().empty()) {
      popup.reset(CreatePopupMenu());
      InsertItems(*item, popup.get(), 0, next_command, last_command);
    }
    if (command > last_command) continue;
    std::string caption = item->Caption();
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | (popup ? MIIM_SUBMENU : 0);
    info.wID = command;
    info.dwTypeData = caption.data();
    info.fState = item->Enabled() ? MFS_ENABLED : MFS_DISABLED;
    info.hSubMenu = popup.get();
    if (InsertMenuItemA(menu, index, TRUE, &info)) {
      popup.release();  // destroyed with `menu` from now on
      ++index;
    }
  }
}

HRESULT CopyText(const std::string& text, UINT type, CHAR* name, UINT size) {
  if (name == nullptr || size == 0) return E_INVALIDARG;
  const bool wide = type == GCS_VERBW || type == GCS_HELPTEXTW;
  if (wide) {
    // Cut to the buffer, still terminated.
    const std::wstring converted = win::WideFromAnsi(text);
    const std::size_t length = std::min<std::size_t>(converted.size(), size - 1);
    auto* target = reinterpret_cast<wchar_t*>(name);
    std::wmemcpy(target, converted.data(), length);
    target[length] = L'\0';
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
  return ComBoundary("DUduzContextMenuHandler::QueryContextMenu", E_FAIL, [&]() -> HRESULT {
    menu_flags_ = flags;
    first_command_ = first_command;
    if (OnBeforeBuildMenu) OnBeforeBuildMenu(*this);
    UINT next_command = first_command;
    if (const DUduzMenuItem* root = Root()) InsertItems(*root, menu, index, next_command, last_command);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, next_command - first_command + 1);
  });
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  return ComBoundary("DUduzContextMenuHandler::InvokeCommand", E_FAIL, [&]() -> HRESULT {
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
  });
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name,
                                                                    UINT size) {
  return ComBoundary("DUduzContextMenuHandler::GetCommandString", E_FAIL, [&]() -> HRESULT {
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
  });
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::HandleMenuMsg(UINT message, WPARAM wparam, LPARAM lparam) {
  return HandleMenuMsg2(message, wparam, lparam, nullptr);
}

HRESULT STDMETHODCALLTYPE DUduzContextMenuHandler::HandleMenuMsg2(UINT message, WPARAM wparam, LPARAM,
                                                                  LRESULT* result) {
  return ComBoundary("DUduzContextMenuHandler::HandleMenuMsg2", E_FAIL, [&]() -> HRESULT {
    if (result != nullptr) *result = 0;
    // Items are inserted as plain strings, so the menu draws and measures
    // them itself; only the popup notice concerns the handler.
    if (message == WM_INITMENUPOPUP && OnBeforePopup) OnBeforePopup(*this, reinterpret_cast<HMENU>(wparam));
    return S_OK;
  });
}

}  // namespace vellum::shellext
