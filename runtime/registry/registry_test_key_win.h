// A private key below HKEY_CURRENT_USER for one test, removed afterwards
// with everything the test left in it.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/registry/registry_key_win.h"

namespace vellum::testing {

class ScratchKey {
 public:
  explicit ScratchKey(const std::string& name)
      : path_("Software\\VellumTest\\" + std::to_string(GetCurrentProcessId()) + "-" + name) {
    RegistryKey::DeleteTree(HKEY_CURRENT_USER, path_);
  }
  ~ScratchKey() {
    RegistryKey::DeleteTree(HKEY_CURRENT_USER, path_);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VellumTest");  // only succeeds once empty
  }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vellum::testing
