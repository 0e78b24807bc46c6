// Test support for band forms: a band object that records what the form
// tells it, and visual-style functions that stand in for a theme the machine
// lacks (Wine has no "TASKBAR" class).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/component/component.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandform/band_types.h"
#include "shellext/bandform/base_band_form_win.h"
#include "shellext/bandform/theme_api_win.h"

namespace vellum::shellext::testing {

class FakeBandObject : public DUduzBandObjectLink {
 public:
  explicit FakeBandObject(DUduzBandViewMode mode = ebmNormal) : mode_(mode) {}
  void FocusChange(bool has_focus) override { focus_changes.push_back(has_focus); }
  void ReleaseBandForm() override { ++releases; }
  DUduzBandViewMode ViewMode() const override { return mode_; }
  Component& BandComponent() override { return component_; }
  void SetViewMode(DUduzBandViewMode mode) { mode_ = mode; }

  std::vector<bool> focus_changes;
  int releases = 0;

 private:
  DUduzBandViewMode mode_;
  Component component_;
};

// A theme whose "TASKBAR" part 1 is a solid colour. Installed for the
// object's life; records every call.
class FakeTheme {
 public:
  static constexpr COLORREF kTaskbarColor = RGB(10, 200, 30);

  explicit FakeTheme(bool active = true, bool app_themed = true) {
    State& state = Current();
    state = State{};
    state.active = active;
    state.app_themed = app_themed;
    ThemeApi api;
    api.is_theme_active = &Active;
    api.is_app_themed = &AppThemed;
    api.open_theme_data = &Open;
    api.draw_theme_background = &Draw;
    api.close_theme_data = &Close;
    previous_ = SetThemeApi(api);
  }
  ~FakeTheme() { SetThemeApi(previous_); }
  FakeTheme(const FakeTheme&) = delete;
  FakeTheme& operator=(const FakeTheme&) = delete;

  struct State {
    bool active = true;
    bool app_themed = true;
    bool draw_fails = false;
    std::vector<std::wstring> opened_classes;
    std::vector<HWND> opened_windows;
    std::vector<int> parts;
    std::vector<int> states;
    int closes = 0;
  };
  static State& Current() {
    static State state;
    return state;
  }

 private:
  static BOOL WINAPI Active() { return Current().active; }
  static BOOL WINAPI AppThemed() { return Current().app_themed; }
  static HTHEME WINAPI Open(HWND window, LPCWSTR class_list) {
    Current().opened_classes.emplace_back(class_list);
    Current().opened_windows.push_back(window);
    return reinterpret_cast<HTHEME>(0x7E57);
  }
  static HRESULT WINAPI Draw(HTHEME theme, HDC dc, int part, int state, const RECT* rect, const RECT*) {
    if (theme != reinterpret_cast<HTHEME>(0x7E57)) return E_HANDLE;
    Current().parts.push_back(part);
    Current().states.push_back(state);
    if (Current().draw_fails) return E_FAIL;
    const win::UniqueBrush brush(CreateSolidBrush(kTaskbarColor));
    FillRect(dc, rect, brush.get());
    return S_OK;
  }
  static HRESULT WINAPI Close(HTHEME) {
    ++Current().closes;
    return S_OK;
  }

  ThemeApi previous_;
};

}  // namespace vellum::shellext::testing
