// Test support: the host link's registry values live at a path the protocol
// fixes, so a test that writes them saves them first and puts them back. The
// guard also holds a session-wide mutex meanwhile, so that test programs that
// share one Wine prefix and all use the guard do not interleave their writes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/win/unique_handle_win.h"

namespace vellum::band::testing {

class HostLinkRegistryGuard {
 public:
  explicit HostLinkRegistryGuard(std::vector<std::string> value_names = {"BarHandle", "DockPanel"});
  // Restores every saved value (deleting those that did not exist) and
  // removes the keys the test created.
  ~HostLinkRegistryGuard();
  HostLinkRegistryGuard(const HostLinkRegistryGuard&) = delete;
  HostLinkRegistryGuard& operator=(const HostLinkRegistryGuard&) = delete;

  // Writes a REG_SZ value in the host link's key, creating the key.
  static bool WriteText(const char* name, const std::string& text);
  static void Delete(const char* name);

 private:
  struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
  };
  struct Saved {
    std::string name;
    std::optional<Value> value;
  };
  static std::optional<Value> Read(const std::string& name);

  win::UniqueKernelHandle mutex_;
  bool mutex_owned_ = false;
  std::vector<bool> key_existed_;
  std::vector<Saved> saved_;
};

}  // namespace vellum::band::testing
