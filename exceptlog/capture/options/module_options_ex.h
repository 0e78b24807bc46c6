// Options that tell the rest of the process about their changes: every
// announced change is published (marker byte 1, then the stored form) for the
// other modules of the process, and switching `Enabled` or `FreezeCheck` of
// the running module's options starts or stops the freeze watchdog.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "exceptlog/capture/options/module_options.h"

namespace vellum::exceptlog {

// What the freeze watchdog and the module list plug in. Unset parts mean
// "not the running module's options" and "nothing to start or stop".
struct FreezeWatchdogControl {
  std::function<bool(const TRuzadaModuleOptions&)> is_running_module_options;
  std::function<void()> start;
  std::function<void()> stop;
};

// Process-wide; replaces what was set before.
void SetFreezeWatchdogControl(FreezeWatchdogControl control);

class TRuzadaModuleOptionsEx : public TRuzadaModuleOptions {
 public:
  // Receives the published image; on Windows the "MODULE" shared block
  // (ModuleBlockPublisher in module_block_win.h).
  using Publisher = std::function<void(const std::vector<std::uint8_t>& image)>;

  TRuzadaModuleOptionsEx(std::string module_file_name, bool publish, Publisher publisher = {});

  void SetEnabled(bool value) override;
  void SetFreezeCheck(bool value) override;

  // The published image: marker 1 followed by SaveToStream.
  std::vector<std::uint8_t> PublishedImage() const;

 protected:
  void ChangeHook() override;

 private:
  void SwitchWatchdog();

  Publisher publisher_;
};

}  // namespace vellum::exceptlog
