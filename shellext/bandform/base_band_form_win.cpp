#include "shellext/bandform/base_band_form_win.h"

#include "runtime/component/class_builder.h"
#include "shellext/bandform/garbage_collector_win.h"
#include "shellext/bandform/hook_updater_win.h"
#include "shellext/bandform/theme_api_win.h"

namespace vellum::shellext {

const ClassInfo& DUduzBaseBandForm::StaticClass() {
  using T = DUduzBaseBandForm;
  static const ClassInfo info =
      ClassBuilder<T>("DUduzBaseBandForm", &gui::TCustomForm::StaticClass())
          .Property("ThemeBkGnd", &T::ThemeBkGnd, &T::SetThemeBkGnd)
          .Object("BandConstraints", [](const T& form) -> const Persistent& { return form.BandConstraints(); })
          .Property("PaintBkGnd", &T::PaintBkGnd, &T::SetPaintBkGnd)
          .Event("OnBandViewModeChange", &T::OnBandViewModeChange)
          .Build();
  return info;
}

DUduzBaseBandForm::DUduzBaseBandForm() = default;

DUduzBaseBandForm::~DUduzBaseBandForm() {
  if (registered_) DUduzHookUpdater::Instance().Unregister(*this);
  // Queued but freed by its owner first: the queue must not keep the pointer.
  DUduzGarbageCollector::Instance().Forget(*this);
}

void DUduzBaseBandForm::AfterConstruction() {
  DUduzHookUpdater::Instance().Register(*this);
  registered_ = true;
  SetBorderStyle(gui::bsSizeable);
  SetThemeBkGnd(true);
  SetPosition(gui::poDesigned);
  SetPaintBkGnd(true);
  ConstructionCompleted();
  gui::TCustomForm::AfterConstruction();
}

void DUduzBaseBandForm::DoBandViewModeChange(DUduzBandViewMode mode) {
  if (OnBandViewModeChange && band_object_ != nullptr) OnBandViewModeChange(band_object_->BandComponent(), mode);
}

void DUduzBaseBandForm::CreateParams(gui::TCreateParams& params) {
  gui::TCustomForm::CreateParams(params);
  params.style &= kBandFormStyleMask;
}

void DUduzBaseBandForm::WndProc(gui::Message& message) {
  switch (message.msg) {
    case WM_SETFOCUS:
      gui::TCustomForm::WndProc(message);
      if (band_object_ != nullptr) band_object_->FocusChange(true);
      return;
    case WM_KILLFOCUS:
      gui::TCustomForm::WndProc(message);
      if (band_object_ != nullptr) band_object_->FocusChange(false);
      return;
    case WM_PARENTNOTIFY: {
      gui::TCustomForm::WndProc(message);
      const WORD event = LOWORD(message.wparam);
      // A click on a child reports focus even when the child takes none itself.
      if (band_object_ != nullptr && (event == WM_LBUTTONDOWN || event == WM_RBUTTONDOWN || event == WM_MBUTTONDOWN)) {
        band_object_->FocusChange(true);
      }
      return;
    }
    case WM_DESTROY:
      if (band_object_ != nullptr) {
        DUduzBandObjectLink* band = band_object_;
        band_object_ = nullptr;
        band->ReleaseBandForm();
      }
      if (registered_) {
        DUduzHookUpdater::Instance().Unregister(*this);
        registered_ = false;
      }
      DUduzGarbageCollector::Instance().Add(*this);
      gui::TCustomForm::WndProc(message);
      return;
    default: break;
  }
  gui::TCustomForm::WndProc(message);
}

const ClassInfo& DUduzDeskBandForm::StaticClass() {
  using T = DUduzDeskBandForm;
  static const ClassInfo info = ClassBuilder<T>("DUduzDeskBandForm", &DUduzBaseBandForm::StaticClass())
                                    .Event("OnSetWindowTheme", &T::OnSetWindowTheme)
                                    .Build();
  return info;
}

void DUduzDeskBandForm::ConstructionCompleted() {
  SetAutoScroll(false);
}

void DUduzDeskBandForm::DoSetWindowTheme() {
  if (OnSetWindowTheme && BandObject() != nullptr) OnSetWindowTheme(BandObject()->BandComponent());
}

bool DUduzDeskBandForm::EraseBackground(HDC dc) {
  if (!PaintBkGnd()) return true;  // erased: nothing painted at all
  const ThemeApi& theme = CurrentThemeApi();
  const bool themes_on = theme.is_theme_active != nullptr && theme.is_theme_active() &&
                         theme.is_app_themed != nullptr && theme.is_app_themed();
  const DUduzBandViewMode mode = BandObject() != nullptr ? BandObject()->ViewMode() : ebmNormal;
  if (BandObject() == nullptr || !ThemeBkGnd() || !themes_on || mode == ebmFloating || mode == ebmTransparent) {
    return gui::TCustomForm::EraseBackground(dc);
  }
  HTHEME data = theme.open_theme_data(Handle(), L"TASKBAR");
  if (data == nullptr) return gui::TCustomForm::EraseBackground(dc);
  RECT client{};
  GetClientRect(Handle(), &client);
  theme.draw_theme_background(data, dc, 1, 0, &client, nullptr);
  theme.close_theme_data(data);  // also when drawing failed
  return true;
}

void DUduzDeskBandForm::WndProc(gui::Message& message) {
  DUduzBaseBandForm::WndProc(message);
}

}  // namespace vellum::shellext
