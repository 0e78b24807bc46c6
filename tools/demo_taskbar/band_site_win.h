// The demo taskbar's band site: what Explorer's band site offers a desk band
// — its window (IOleWindow), focus notices (IInputObjectSite) and a service
// provider that has no web browser to give.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <servprov.h>
#include <shobjidl.h>

#include <atomic>
#include <functional>

namespace vellum::demo {

class BandSite : public IOleWindow, public IInputObjectSite, public IServiceProvider {
 public:
  explicit BandSite(HWND band_area) : band_area_(band_area) {}
  virtual ~BandSite() = default;

  // Called with the band's focus notices.
  std::function<void(bool has_focus)> on_focus_change;
  int focus_notices() const { return focus_notices_; }

  // IUnknown (one object, three interfaces).
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override;

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IInputObjectSite
  STDMETHODIMP OnFocusChangeIS(IUnknown* object, BOOL has_focus) override;

  // IServiceProvider
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override;

 private:
  HWND band_area_;
  std::atomic<ULONG> references_{1};
  int focus_notices_ = 0;
};

}  // namespace vellum::demo
