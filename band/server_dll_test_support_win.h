// Test support for the built product: the DLL beside the test programs in
// bin/, loaded and unloaded by hand with its four exports, and Wine's
// regsvr32 run on it as a registration tool would.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "band/band_ids.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band::testing {

// The band's class identifier as a CLSID.
inline CLSID DeskBandClassId() {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(L"" VELLUM_DESK_BAND_CLSID_TEXT, &clsid), S_OK);
  return clsid;
}

// bin/, where the test programs, the DLL and the tools are built.
inline std::string BinaryFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

inline std::string ProductDllPath() {
  return BinaryFolder() + "VellumDeskBand.dll";
}

// An export of `module` typed as the function whose declaration names it.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The DLL loaded with LoadLibrary for the object's lifetime (Unload ends it
// earlier), with its exports looked up by name.
class LoadedServer {
 public:
  LoadedServer() : module_(LoadLibraryA(ProductDllPath().c_str())) {
    if (module_ == nullptr) return;
    get_class_object_ = Export<decltype(&::DllGetClassObject)>(module_, "DllGetClassObject");
    can_unload_now_ = Export<decltype(&::DllCanUnloadNow)>(module_, "DllCanUnloadNow");
    register_server_ = Export<decltype(&::DllRegisterServer)>(module_, "DllRegisterServer");
    unregister_server_ = Export<decltype(&::DllUnregisterServer)>(module_, "DllUnregisterServer");
  }
  ~LoadedServer() { Unload(); }
  LoadedServer(const LoadedServer&) = delete;
  LoadedServer& operator=(const LoadedServer&) = delete;

  bool Loaded() const {
    return module_ != nullptr && get_class_object_ != nullptr && can_unload_now_ != nullptr &&
           register_server_ != nullptr && unregister_server_ != nullptr;
  }
  HMODULE module() const { return module_; }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return get_class_object_(clsid, iid, object);
  }
  HRESULT DllCanUnloadNow() const { return can_unload_now_(); }
  HRESULT DllRegisterServer() const { return register_server_(); }
  HRESULT DllUnregisterServer() const { return unregister_server_(); }

 private:
  HMODULE module_ = nullptr;
  decltype(&::DllGetClassObject) get_class_object_ = nullptr;
  decltype(&::DllCanUnloadNow) can_unload_now_ = nullptr;
  decltype(&::DllRegisterServer) register_server_ = nullptr;
  decltype(&::DllUnregisterServer) unregister_server_ = nullptr;
};

// Runs a command line, waits for it, answers its exit code (or ~0u when it
// could not be started or did not end within the limit).
inline DWORD RunAndWait(std::string command_line, DWORD limit_ms = 60000) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return ~0u;
  }
  CloseHandle(process.hThread);
  win::UniqueKernelHandle handle(process.hProcess);
  if (WaitForSingleObject(handle.get(), limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(handle.get(), 1);
    return ~0u;
  }
  DWORD exit_code = ~0u;
  GetExitCodeProcess(handle.get(), &exit_code);
  return exit_code;
}

// regsvr32 (silent) on the product DLL; /u unregisters.
inline DWORD Regsvr32(bool unregister = false) {
  return RunAndWait(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + ProductDllPath() + "\"");
}

}  // namespace vellum::band::testing
