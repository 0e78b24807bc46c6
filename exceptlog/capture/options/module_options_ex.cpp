#include "exceptlog/capture/options/module_options_ex.h"

namespace vellum::exceptlog {

namespace {

FreezeWatchdogControl& WatchdogControl() {
  static FreezeWatchdogControl control;
  return control;
}

}  // namespace

void SetFreezeWatchdogControl(FreezeWatchdogControl control) {
  WatchdogControl() = std::move(control);
}

TRuzadaModuleOptionsEx::TRuzadaModuleOptionsEx(std::string module_file_name, bool publish, Publisher publisher)
    : TRuzadaModuleOptions(std::move(module_file_name), publish), publisher_(std::move(publisher)) {}

void TRuzadaModuleOptionsEx::SetEnabled(bool value) {
  const bool changes = value != Enabled();
  TRuzadaModuleOptions::SetEnabled(value);
  if (changes) SwitchWatchdog();
}

void TRuzadaModuleOptionsEx::SetFreezeCheck(bool value) {
  const bool changes = value != FreezeCheck();
  TRuzadaModuleOptions::SetFreezeCheck(value);
  if (changes) SwitchWatchdog();
}

void TRuzadaModuleOptionsEx::SwitchWatchdog() {
  // Only the running module's options drive the watchdog; it watches for
  // that module alone.
  const FreezeWatchdogControl& control = WatchdogControl();
  if (!control.is_running_module_options || !control.is_running_module_options(*this)) return;
  if (Enabled() && FreezeCheck()) {
    if (control.start) control.start();
  } else {
    if (control.stop) control.stop();
  }
}

std::vector<std::uint8_t> TRuzadaModuleOptionsEx::PublishedImage() const {
  MemoryStream image;
  image.WriteValue<std::uint8_t>(1);
  SaveToStream(image);
  return image.Bytes();
}

void TRuzadaModuleOptionsEx::ChangeHook() {
  if (publisher_) publisher_(PublishedImage());
}

}  // namespace vellum::exceptlog
