// Test support for band objects: a band site like the taskbar's (its window,
// focus notices, a service provider without a web browser), a window to stand
// for the shell's band area, message pumping with a time limit, and band
// forms of the tests' own whose events are counted.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <servprov.h>
#include <shobjidl.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/component/class_builder.h"
#include "runtime/gui/controls_win.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandform/base_band_form_win.h"
#include "shellext/bandform/garbage_collector_win.h"

namespace vellum::shellext::testing {

using gui::testing::PumpUntil;

// A visible top-level window playing the shell's band area; destroyed with
// the object unless the test destroys it first (as the shell does).
class BandAreaWindow {
 public:
  explicit BandAreaWindow(int width = 420, int height = 34) {
    static const ATOM atom = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = DefWindowProcA;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = "VellumTestBandArea";
      return RegisterClassA(&window_class);
    }();
    (void)atom;
    window_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, "VellumTestBandArea", "band area", WS_POPUP | WS_VISIBLE, 10, 10,
                                  width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
  }
  HWND get() const { return window_.get(); }
  void Destroy() { window_.reset(); }

 private:
  win::UniqueHandle<win::WindowTraits> window_;
};

// The band site: one object with IOleWindow, IInputObjectSite and
// IServiceProvider. Lives on the test's stack; its count only checks balance.
class TestBandSite : public IOleWindow, public IInputObjectSite, public IServiceProvider {
 public:
  struct FocusNotice {
    IUnknown* object;
    BOOL has_focus;
  };

  explicit TestBandSite(HWND window) : window_(window) {}
  virtual ~TestBandSite() = default;

  std::vector<FocusNotice> notices;
  bool offer_input_object_site = true;
  int service_queries = 0;

  LONG references() const { return references_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow)) {
      *object = static_cast<IOleWindow*>(this);
    } else if (IsEqualIID(riid, IID_IInputObjectSite) && offer_input_object_site) {
      *object = static_cast<IInputObjectSite*>(this);
    } else if (IsEqualIID(riid, IID_IServiceProvider)) {
      *object = static_cast<IServiceProvider*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&references_)); }

  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  STDMETHODIMP OnFocusChangeIS(IUnknown* object, BOOL has_focus) override {
    notices.push_back({object, has_focus});
    return S_OK;
  }

  // The taskbar has no web browser to give.
  STDMETHODIMP QueryService(REFGUID, REFIID, void** object) override {
    ++service_queries;
    *object = nullptr;
    return E_NOINTERFACE;
  }

 private:
  HWND window_;
  volatile LONG references_ = 0;
};

// A desk band form of the tests: counts its instances and the events the
// band object makes it fire.
class TTestBandForm : public DUduzDeskBandForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  TTestBandForm() {
    ++instances;
    last = this;
    SetCaption(next_caption);
    BandConstraints().SetMinWidth(next_min_width);
    BandConstraints().SetMinHeight(next_min_height);
    BandConstraints().SetMaxWidth(next_max_width);
    BandConstraints().SetMaxHeight(next_max_height);
    OnSetWindowTheme = [this](Component&) { ++theme_changes; };
    OnBandViewModeChange = [this](Component&, DUduzBandViewMode mode) { view_modes.push_back(mode); };
  }
  ~TTestBandForm() override {
    --instances;
    if (last == this) last = nullptr;
  }

  int theme_changes = 0;
  std::vector<DUduzBandViewMode> view_modes;

  static inline int instances = 0;
  static inline TTestBandForm* last = nullptr;
  // What the next form is designed with.
  static inline std::string next_caption = "Test band";
  static inline int next_min_width = 0;
  static inline int next_min_height = 0;
  static inline int next_max_width = 0;
  static inline int next_max_height = 0;
  static void ResetDesign() {
    next_caption = "Test band";
    next_min_width = next_min_height = next_max_width = next_max_height = 0;
  }
};

inline const ClassInfo& TTestBandForm::StaticClass() {
  static const ClassInfo info = ClassBuilder<TTestBandForm>("TTestBandForm", &DUduzDeskBandForm::StaticClass()).Build();
  return info;
}

// A band form with controls: a panel that takes no focus and two push
// buttons that are tab stops.
class TTestTabBandForm : public TTestBandForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  TTestTabBandForm() {
    panel = &CreateOwned<gui::TPanel>();
    panel->SetBounds(0, 0, 40, 20);
    panel->SetParent(this);
    first = &CreateOwned<gui::TButton>();
    first->SetBounds(50, 0, 60, 20);
    first->SetCaption("First");
    first->SetParent(this);
    second = &CreateOwned<gui::TButton>();
    second->SetBounds(120, 0, 60, 20);
    second->SetCaption("Second");
    second->SetParent(this);
  }

  gui::TPanel* panel = nullptr;
  gui::TButton* first = nullptr;
  gui::TButton* second = nullptr;
};

inline const ClassInfo& TTestTabBandForm::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TTestTabBandForm>("TTestTabBandForm", &TTestBandForm::StaticClass()).Build();
  return info;
}

// Waits until the collector has freed every form whose window is gone.
inline bool CollectorIdle(DWORD limit_ms = 2000) {
  return PumpUntil([] { return DUduzGarbageCollector::Instance().QueuedCount() == 0; }, limit_ms);
}

}  // namespace vellum::shellext::testing
