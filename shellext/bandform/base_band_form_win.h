// Band forms: forms that live as child windows inside a shell window whose
// message loop is not ours. No caption or frame, the taskbar's background,
// focus changes reported to the band object, and freeing deferred to the
// garbage collector once the shell destroyed the window.
#pragma once

#include <functional>

#include "runtime/gui/form_win.h"
#include "shellext/bandform/band_constraints.h"
#include "shellext/bandform/band_types.h"

struct IWebBrowser2;

namespace vellum::shellext {

class DUduzBaseBandForm : public gui::TCustomForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  DUduzBaseBandForm();
  ~DUduzBaseBandForm() override;

  bool ThemeBkGnd() const { return theme_bk_gnd_; }
  void SetThemeBkGnd(bool value) { theme_bk_gnd_ = value; }
  bool PaintBkGnd() const { return paint_bk_gnd_; }
  void SetPaintBkGnd(bool value) { paint_bk_gnd_ = value; }
  DUduzBandConstraints& BandConstraints() { return band_constraints_; }
  const DUduzBandConstraints& BandConstraints() const { return band_constraints_; }

  // The band object that created the form; null once the link is cut.
  DUduzBandObjectLink* BandObject() const { return band_object_; }
  void SetBandObject(DUduzBandObjectLink* band) { band_object_ = band; }
  IWebBrowser2* Browser() const { return browser_; }
  void SetBrowser(IWebBrowser2* browser) { browser_ = browser; }

  std::function<void(Component& sender, DUduzBandViewMode new_view_mode)> OnBandViewModeChange;
  void DoBandViewModeChange(DUduzBandViewMode mode);

  // Designer code runs in the derived constructors, so what the form base
  // does "after the designed properties are loaded" happens here: register
  // with the hook updater, force the four band-form properties, then OnCreate.
  void AfterConstruction() override;

 protected:
  // Runs between the forced properties and OnCreate.
  virtual void ConstructionCompleted() {}
  void CreateParams(gui::TCreateParams& params) override;
  void WndProc(gui::Message& message) override;

 private:
  DUduzBandConstraints band_constraints_;  // constructed before any designer code
  DUduzBandObjectLink* band_object_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
  bool theme_bk_gnd_ = true;
  bool paint_bk_gnd_ = true;
  bool registered_ = false;
};

class DUduzDeskBandForm : public DUduzBaseBandForm {
  VELLUM_PERSISTENT_CLASS()

 public:
  std::function<void(Component& sender)> OnSetWindowTheme;
  void DoSetWindowTheme();

 protected:
  void ConstructionCompleted() override;
  bool EraseBackground(HDC dc) override;
  void WndProc(gui::Message& message) override;
};

// The style bits a band form keeps: everything but WS_CAPTION and WS_THICKFRAME.
constexpr DWORD kBandFormStyleMask = 0xFF3BFFFF;

}  // namespace vellum::shellext
