// The band object: the COM object the shell creates for a band and talks to
// through the band interfaces. It draws nothing itself; it creates a band form
// of the class its OnGetBandForm event names inside the site's window and
// answers the shell's questions about size, focus, visibility and persistence
// from that form. Every COM method that can fail runs inside the COM boundary
// (shellext/factory/com_boundary_win.h) and answers its fixed result.
#pragma once

#include <docobj.h>
#include <exdisp.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <functional>
#include <string>

#include "runtime/win/com_ptr_win.h"
#include "shellext/bandform/band_types.h"
#include "shellext/bandform/base_band_form_win.h"
#include "shellext/factory/registerable_shell_component_win.h"

namespace vellum::shellext {

class DUduzShellBandComponent;
// Names the form class to create; leave it null for no form.
using TGetBandFormEvent = std::function<void(Component& sender, const ClassInfo*& form_class)>;

class DUduzShellBandComponent : public DUduzRegisterableShellComponent,
                                public IOleCommandTarget,
                                public IDispatch,
                                public IInputObject,
                                public IDeskBand,
                                public IPersistStream,
                                public IObjectWithSite,
                                public DUduzBandObjectLink {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzShellBandComponent();
  ~DUduzShellBandComponent() override;

  VELLUM_COM_UNKNOWN_METHODS()

  const std::string& MenuText() const { return menu_text_; }
  void SetMenuText(const std::string& value) { menu_text_ = value; }
  TGetBandFormEvent OnGetBandForm;

  std::unique_ptr<DUduzBaseRegistration> CreateRegistration() const override;

  // IOleCommandTarget
  STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD commands[], OLECMDTEXT* text) override;
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD options, VARIANT* in, VARIANT* out) override;
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  // IInputObject
  STDMETHODIMP UIActivateIO(BOOL activate, MSG* message) override;
  STDMETHODIMP HasFocusIO() override;
  STDMETHODIMP TranslateAcceleratorIO(MSG* message) override;
  // IOleWindow, IDockingWindow, IDeskBand
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ShowDW(BOOL show) override;
  STDMETHODIMP CloseDW(DWORD reserved) override;
  STDMETHODIMP ResizeBorderDW(LPCRECT, IUnknown*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetBandInfo(DWORD band_id, DWORD view_mode, DESKBANDINFO* info) override;
  // IPersist, IPersistStream
  STDMETHODIMP GetClassID(CLSID* class_id) override;
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(IStream*) override { return S_OK; }
  STDMETHODIMP Save(IStream*, BOOL) override { return S_OK; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID riid, void** site) override;

  // DUduzBandObjectLink: what the form calls.
  void FocusChange(bool has_focus) override;
  void ReleaseBandForm() override;
  DUduzBandViewMode ViewMode() const override { return view_mode_; }
  Component& BandComponent() override { return *this; }

  // The form in the band; null before creation and after release.
  DUduzBaseBandForm* BandForm() const { return band_form_; }
  HWND ParentWindow() const { return parent_window_; }
  bool HasFocus() const { return has_focus_; }

 protected:
  void* FindInterface(const IID& iid) override;

  // Creates the form inside the parent window; answers whether the site gave
  // a web browser (callers look at BandForm(), not at the answer).
  virtual bool CreateBandForm();
  virtual void DoViewModeChange(DUduzBandViewMode mode);
  virtual const ClassInfo* DoGetBandForm();
  bool ShowBandForm(bool visible);
  virtual void ConnectBrowserEvents() {}
  virtual void DisconnectBrowserEvents() {}
  void DisconnectBrowser();
  void ConnectBrowser() { ConnectBrowserEvents(); }
  // The result of Exec for commands the kind does not handle.
  virtual HRESULT ExecCommand(const GUID* group, DWORD command);

 private:
  DUduzBaseBandForm& MakeForm(const ClassInfo& form_class);
  // Stores and links the form and makes its windows; a form whose windows
  // cannot be made is handed back to the collector and the error raised.
  void InstallForm(DUduzBaseBandForm& form);
  HRESULT TabKey(const MSG& message);

  std::string menu_text_ = "RereRAV Band Menu Item";
  HWND parent_window_ = nullptr;
  win::ComPtr<IInputObjectSite> site_;
  win::ComPtr<IUnknown> browser_events_;  // browser bands only; always empty here
  DWORD browser_cookie_ = 0;
  DUduzBandViewMode view_mode_ = ebmNormal;
  bool has_focus_ = false;
  DUduzBaseBandForm* band_form_ = nullptr;
};

// The taskbar desk band: registers itself in the desk band category and
// answers the set-window-theme command.
class DUduzDesktopBandComponent : public DUduzShellBandComponent {
  VELLUM_PERSISTENT_CLASS()

 public:
  void RegisterServer() override;
  void UnregisterServer() override;

 protected:
  HRESULT ExecCommand(const GUID* group, DWORD command) override;
};

// DBID_SETWINDOWTHEME: the shell tells a desk band to follow a new theme.
inline constexpr DWORD kSetWindowThemeCommand = 6;

}  // namespace vellum::shellext
