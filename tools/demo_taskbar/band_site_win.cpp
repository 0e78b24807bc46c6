#include "tools/demo_taskbar/band_site_win.h"

namespace vellum::demo {

STDMETHODIMP BandSite::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow)) {
    *object = static_cast<IOleWindow*>(this);
  } else if (IsEqualIID(riid, IID_IInputObjectSite)) {
    *object = static_cast<IInputObjectSite*>(this);
  } else if (IsEqualIID(riid, IID_IServiceProvider)) {
    *object = static_cast<IServiceProvider*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) BandSite::Release() {
  const ULONG left = --references_;
  // The site lives on the host's stack; the last reference does not free it.
  return left;
}

STDMETHODIMP BandSite::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = band_area_;
  return S_OK;
}

STDMETHODIMP BandSite::OnFocusChangeIS(IUnknown*, BOOL has_focus) {
  ++focus_notices_;
  if (on_focus_change) on_focus_change(has_focus != FALSE);
  return S_OK;
}

STDMETHODIMP BandSite::QueryService(REFGUID, REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;  // a taskbar has no web browser to offer
}

}  // namespace vellum::demo
