#include "shellext/bandobject/shell_band_component_win.h"

#include <algorithm>
#include <cwchar>

#include "runtime/component/class_builder.h"
#include "runtime/gui/control_win.h"
#include "runtime/win/activation_scope_win.h"
#include "runtime/win/text_conversion_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandform/garbage_collector_win.h"
#include "shellext/bandform/theme_api_win.h"
#include "shellext/factory/com_boundary_win.h"
#include "shellext/registration/desk_band_registration_win.h"

namespace vellum::shellext {

namespace {

// Activation contexts and visual styles are used only when every entry point
// exists.
bool LookUpThemingEntryPoints() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  HMODULE theme = ThemeLibrary();
  if (kernel == nullptr || theme == nullptr) return false;
  for (const char* name : {"ActivateActCtx", "CreateActCtxA", "CreateActCtxW", "DeactivateActCtx", "GetCurrentActCtx",
                           "ReleaseActCtx", "ZombifyActCtx"}) {
    if (GetProcAddress(kernel, name) == nullptr) return false;
  }
  for (const char* name : {"OpenThemeData", "CloseThemeData", "DrawThemeBackground", "DrawThemeParentBackground",
                           "IsThemeBackgroundPartiallyTransparent", "IsThemeActive", "IsAppThemed"}) {
    if (GetProcAddress(theme, name) == nullptr) return false;
  }
  return true;
}

// Answered on the first form, not at load: finding uxtheme may load it, and
// LoadLibrary under the loader lock (static initialisation) can deadlock.
bool ThemingAvailable() {
  static const bool available = LookUpThemingEntryPoints();
  return available;
}

// This module's manifest (resource 2) active for one scope, so the form's
// controls get the common controls the manifest names.
class ManifestActivation {
 public:
  ManifestActivation() : context_(CreateManifestContext()), scope_(context_.get()) {}

 private:
  static HANDLE CreateManifestContext() {
    char file_name[MAX_PATH + 1] = {};
    GetModuleFileNameA(gui::ModuleInstance(), file_name, sizeof file_name);
    ACTCTXA description{};
    description.cbSize = sizeof description;
    description.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    description.lpSource = file_name;
    description.lpResourceName = MAKEINTRESOURCEA(2);
    return CreateActCtxA(&description);
  }

  // Released after the scope has deactivated it: members go in reverse order.
  win::UniqueActivationContext context_;
  win::ActivationScope scope_;
};

// The web browser service that browser bands connect to.
const GUID kSidWebBrowserApp = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

bool IsDescendant(HWND ancestor, HWND window) {
  return window != nullptr && (window == ancestor || IsChild(ancestor, window));
}

}  // namespace

const ClassInfo& DUduzShellBandComponent::StaticClass() {
  using T = DUduzShellBandComponent;
  static const ClassInfo info =
      ClassBuilder<T>("DUduzShellBandComponent", &DUduzRegisterableShellComponent::StaticClass())
          .Factory(nullptr)
          .Build();
  return info;
}

DUduzShellBandComponent::DUduzShellBandComponent() {
  Registration().SetDescription("RereRAV Band Extension");
}

DUduzShellBandComponent::~DUduzShellBandComponent() {
  // A band object that goes before its form leaves the form alive in the
  // shell's window; only the link is cut.
  if (band_form_ != nullptr) band_form_->SetBandObject(nullptr);
  band_form_ = nullptr;
}

std::unique_ptr<DUduzBaseRegistration> DUduzShellBandComponent::CreateRegistration() const {
  return std::make_unique<DUduzBandRegistration>();
}

void* DUduzShellBandComponent::FindInterface(const IID& iid) {
  if (void* found = InterfaceTable<IOleCommandTarget, IDispatch, IInputObject, IDeskBand, IDockingWindow, IOleWindow,
                                   IPersistStream, IPersist, IObjectWithSite>::Find(this, iid)) {
    return found;
  }
  return DUduzRegisterableShellComponent::FindInterface(iid);
}

// ---- IOleCommandTarget, IDispatch ------------------------------------------

STDMETHODIMP DUduzShellBandComponent::QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) {
  return OLECMDERR_E_UNKNOWNGROUP;
}

STDMETHODIMP DUduzShellBandComponent::Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT*) {
  return ComBoundary("DUduzShellBandComponent::Exec", OLECMDERR_E_NOTSUPPORTED,
                     [&] { return ExecCommand(group, command); });
}

HRESULT DUduzShellBandComponent::ExecCommand(const GUID*, DWORD) {
  return OLECMDERR_E_NOTSUPPORTED;
}

STDMETHODIMP DUduzShellBandComponent::GetTypeInfoCount(UINT* count) {
  if (count != nullptr) *count = 0;
  return E_NOTIMPL;
}

STDMETHODIMP DUduzShellBandComponent::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

// ---- IObjectWithSite --------------------------------------------------------

STDMETHODIMP DUduzShellBandComponent::SetSite(IUnknown* site) {
  return ComBoundary("DUduzShellBandComponent::SetSite", S_OK, [&]() -> HRESULT {
    site_.Reset();
    parent_window_ = nullptr;
    if (site != nullptr) {
      win::ComPtr<IOleWindow> window;
      if (SUCCEEDED(site->QueryInterface(IID_IOleWindow, window.ReceiveVoid())) && window) {
        if (FAILED(window->GetWindow(&parent_window_))) {
          parent_window_ = nullptr;
          return S_OK;
        }
        site->QueryInterface(IID_IInputObjectSite, site_.ReceiveVoid());
      }
    } else {
      DisconnectBrowserEvents();
      if (band_form_ != nullptr) {
        band_form_->SetBandObject(nullptr);
        band_form_->SetBrowser(nullptr);
        ReleaseBandForm();
      }
    }
    return S_OK;
  });
}

STDMETHODIMP DUduzShellBandComponent::GetSite(REFIID riid, void** site) {
  return ComBoundary("DUduzShellBandComponent::GetSite", E_FAIL, [&]() -> HRESULT {
    if (site == nullptr) return E_POINTER;
    *site = nullptr;
    if (!site_) return E_FAIL;
    return site_->QueryInterface(riid, site);
  });
}

// ---- the form ---------------------------------------------------------------

const ClassInfo* DUduzShellBandComponent::DoGetBandForm() {
  const ClassInfo* form_class = nullptr;
  if (OnGetBandForm) OnGetBandForm(*this, form_class);
  return form_class;
}

DUduzBaseBandForm& DUduzShellBandComponent::MakeForm(const ClassInfo& form_class) {
  if (!form_class.InheritsFrom(DUduzBaseBandForm::StaticClass())) {
    throw EInvalidOperation("Class " + form_class.Name() + " is not a band form");
  }
  std::unique_ptr<gui::TCustomForm> created = gui::CreateParentedForm(form_class, parent_window_);
  std::unique_ptr<DUduzBaseBandForm> form(static_cast<DUduzBaseBandForm*>(created.release()));
  return DUduzGarbageCollector::Instance().Adopt(std::move(form));
}

bool DUduzShellBandComponent::CreateBandForm() {
  const ClassInfo* form_class = DoGetBandForm();
  if (form_class == nullptr) return false;
  if (ThemingAvailable()) {
    ManifestActivation activation;
    RECT client{};
    GetClientRect(parent_window_, &client);
    DUduzBaseBandForm& form = MakeForm(*form_class);
    form.SetBounds(client.left, client.top, client.right, client.bottom);
    InstallForm(form);
  } else {
    InstallForm(MakeForm(*form_class));
  }
  if (!site_) return false;
  win::ComPtr<IServiceProvider> services = site_.As<IServiceProvider>(IID_IServiceProvider);
  if (!services) return false;
  win::ComPtr<IWebBrowser2> browser;
  if (FAILED(services->QueryService(kSidWebBrowserApp, kIidWebBrowser2, browser.ReceiveVoid())) || !browser) {
    return false;
  }
  band_form_->SetBrowser(browser.get());
  DisconnectBrowserEvents();
  ConnectBrowserEvents();
  return true;
}

void DUduzShellBandComponent::InstallForm(DUduzBaseBandForm& form) {
  band_form_ = &form;
  form.SetBandObject(this);
  try {
    form.CreateHandles();
  } catch (...) {
    // Its windows could not be made (the site's window is gone, say). Kept,
    // it would answer for the band without a window and, never getting a
    // WM_DESTROY, stay with the collector until the module unloads.
    form.SetBandObject(nullptr);
    band_form_ = nullptr;
    DUduzGarbageCollector::Instance().Add(form);
    throw;
  }
}

void DUduzShellBandComponent::ReleaseBandForm() {
  DisconnectBrowserEvents();
  if (band_form_ != nullptr) band_form_->SetBandObject(nullptr);
  band_form_ = nullptr;
}

bool DUduzShellBandComponent::ShowBandForm(bool visible) {
  if (band_form_ == nullptr) return false;
  static_cast<gui::TControl&>(*band_form_).SetVisible(visible);
  return true;
}

void DUduzShellBandComponent::DisconnectBrowser() {
  DisconnectBrowserEvents();
  browser_events_.Reset();
  browser_cookie_ = 0;
}

void DUduzShellBandComponent::DoViewModeChange(DUduzBandViewMode mode) {
  if (band_form_ != nullptr) band_form_->DoBandViewModeChange(mode);
}

// ---- IOleWindow, IDockingWindow, IDeskBand ---------------------------------

STDMETHODIMP DUduzShellBandComponent::GetWindow(HWND* window) {
  return ComBoundary("DUduzShellBandComponent::GetWindow", E_NOTIMPL, [&]() -> HRESULT {
    if (band_form_ == nullptr) CreateBandForm();
    if (band_form_ == nullptr || window == nullptr) return E_NOTIMPL;
    *window = band_form_->Handle();
    return S_OK;
  });
}

STDMETHODIMP DUduzShellBandComponent::ShowDW(BOOL show) {
  return ComBoundary("DUduzShellBandComponent::ShowDW", E_FAIL,
                     [&]() -> HRESULT { return ShowBandForm(show != FALSE) ? S_OK : E_FAIL; });
}

STDMETHODIMP DUduzShellBandComponent::CloseDW(DWORD) {
  return ComBoundary("DUduzShellBandComponent::CloseDW", E_FAIL, [&]() -> HRESULT {
    return ShowBandForm(false) ? S_OK : E_FAIL;  // hidden, not destroyed
  });
}

STDMETHODIMP DUduzShellBandComponent::GetBandInfo(DWORD, DWORD view_mode, DESKBANDINFO* info) {
  if (band_form_ == nullptr) return E_NOTIMPL;
  return ComBoundary("DUduzShellBandComponent::GetBandInfo", E_NOTIMPL, [&]() -> HRESULT {
    switch (view_mode) {
      case DBIF_VIEWMODE_NORMAL: view_mode_ = ebmNormal; break;
      case DBIF_VIEWMODE_VERTICAL: view_mode_ = ebmVertical; break;
      case DBIF_VIEWMODE_FLOATING: view_mode_ = ebmFloating; break;
      case DBIF_VIEWMODE_TRANSPARENT: view_mode_ = ebmTransparent; break;
      default: break;
    }
    if (info == nullptr) return E_NOTIMPL;
    const DUduzBandConstraints& limits = band_form_->BandConstraints();
    auto limit = [](int value) -> LONG { return value != 0 ? value : -1; };
    if (info->dwMask & DBIM_MINSIZE) info->ptMinSize = {limit(limits.MinWidth()), limit(limits.MinHeight())};
    if (info->dwMask & DBIM_MAXSIZE) info->ptMaxSize = {-1, limit(limits.MaxHeight())};
    if (info->dwMask & DBIM_INTEGRAL) info->ptIntegral = {1, 1};
    if (info->dwMask & DBIM_ACTUAL) info->ptActual = {band_form_->ClientWidth(), band_form_->ClientHeight()};
    if (info->dwMask & DBIM_TITLE) {
      std::wmemset(info->wszTitle, 0, 256);
      // The whole caption is converted before it is cut: a fixed buffer would
      // make the conversion of a long caption fail and leave no title at all.
      const std::wstring title = win::WideFromAnsi(band_form_->Caption());
      std::wmemcpy(info->wszTitle, title.data(), std::min<std::size_t>(title.size(), 255));
    }
    if (info->dwMask & DBIM_MODEFLAGS) info->dwModeFlags = DBIMF_VARIABLEHEIGHT;
    if (info->dwMask & DBIM_BKCOLOR) info->crBkgnd = 5;
    DoViewModeChange(view_mode_);
    return S_OK;
  });
}

// ---- IPersist, IPersistStream ----------------------------------------------

STDMETHODIMP DUduzShellBandComponent::GetClassID(CLSID* class_id) {
  return ComBoundary("DUduzShellBandComponent::GetClassID", E_NOTIMPL, [&]() -> HRESULT {
    if (class_id == nullptr) return E_NOTIMPL;
    *class_id = GUID_NULL;
    const HRESULT result = CLSIDFromString(win::WideFromAnsi(Registration().Clsid()).c_str(), class_id);
    if (FAILED(result)) *class_id = GUID_NULL;
    return result;
  });
}

STDMETHODIMP DUduzShellBandComponent::GetSizeMax(ULARGE_INTEGER* size) {
  if (size != nullptr) size->QuadPart = 0;
  return S_OK;
}

// ---- focus ------------------------------------------------------------------

void DUduzShellBandComponent::FocusChange(bool has_focus) {
  if (!site_) return;
  has_focus_ = has_focus;
  site_->OnFocusChangeIS(Unknown(), has_focus ? -1 : 0);
}

STDMETHODIMP DUduzShellBandComponent::UIActivateIO(BOOL activate, MSG*) {
  return ComBoundary("DUduzShellBandComponent::UIActivateIO", S_OK, [&]() -> HRESULT {
    if (band_form_ != nullptr && activate != FALSE) {
      has_focus_ = true;
      FocusChange(true);
      return S_OK;
    }
    has_focus_ = false;
    FocusChange(false);
    return S_FALSE;
  });
}

STDMETHODIMP DUduzShellBandComponent::HasFocusIO() {
  if (band_form_ == nullptr) return S_FALSE;
  return has_focus_ ? S_OK : S_FALSE;
}

STDMETHODIMP DUduzShellBandComponent::TranslateAcceleratorIO(MSG* message) {
  return ComBoundary("DUduzShellBandComponent::TranslateAcceleratorIO", S_FALSE, [&]() -> HRESULT {
    if (band_form_ == nullptr || message == nullptr) return S_FALSE;
    const bool tab_key = (message->message == WM_KEYDOWN || message->message == WM_KEYUP) && message->wParam == VK_TAB;
    if (!tab_key) {
      // The band consumes every other key message it is offered.
      TranslateMessage(message);
      DispatchMessageA(message);
      return S_OK;
    }
    return TabKey(*message);
  });
}

HRESULT DUduzShellBandComponent::TabKey(const MSG& message) {
  HWND form = band_form_->Handle();
  const bool backward = GetAsyncKeyState(VK_CONTROL) < 0;
  HWND focused = GetFocus();
  HWND active = IsDescendant(form, focused) && focused != form ? focused : nullptr;
  if (message.message == WM_KEYDOWN) {
    HWND next = GetNextDlgTabItem(form, active, backward ? TRUE : FALSE);
    // Leaving the band: there is no other tab stop, or the move wraps round
    // past the last (first, going backward) one.
    bool leaves = next == nullptr || next == active;
    if (!leaves && active != nullptr) {
      HWND first = GetNextDlgTabItem(form, nullptr, FALSE);
      HWND last = GetNextDlgTabItem(form, first, TRUE);
      leaves = backward ? active == first : active == last;
    }
    if (!leaves) {
      ::SetFocus(next);
      FocusChange(true);
      return S_OK;
    }
    FocusChange(false);
    if (active != nullptr) ::SetFocus(nullptr);
    has_focus_ = false;
    return S_FALSE;
  }
  if (active == nullptr) {
    HWND first = GetNextDlgTabItem(form, nullptr, FALSE);
    active = backward && first != nullptr ? GetNextDlgTabItem(form, first, TRUE) : first;
  }
  if (active != nullptr) {
    ::SetFocus(active);
    FocusChange(true);
    return S_OK;
  }
  return S_FALSE;
}

// ---- the desk band ----------------------------------------------------------

const ClassInfo& DUduzDesktopBandComponent::StaticClass() {
  using T = DUduzDesktopBandComponent;
  static const ClassInfo info =
      ClassBuilder<T>("DUduzDesktopBandComponent", &DUduzShellBandComponent::StaticClass()).Factory(nullptr).Build();
  return info;
}

void DUduzDesktopBandComponent::RegisterServer() {
  RegisterDeskBand(Registration(), MenuText());
}

void DUduzDesktopBandComponent::UnregisterServer() {
  UnregisterDeskBand(Registration());
}

HRESULT DUduzDesktopBandComponent::ExecCommand(const GUID*, DWORD command) {
  if (command != kSetWindowThemeCommand) return OLECMDERR_E_NOTSUPPORTED;
  if (auto* form = dynamic_cast<DUduzDeskBandForm*>(BandForm())) form->DoSetWindowTheme();
  return S_OK;
}

}  // namespace vellum::shellext
