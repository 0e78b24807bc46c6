#include "band/server_module_win.h"

#include <ole2.h>

#include <memory>

#include "band/data_module_win.h"
#include "runtime/component/class_info.h"
#include "runtime/gui/control_win.h"
#include "shellext/bandform/garbage_collector_win.h"
#include "shellext/bandform/hook_updater_win.h"
#include "shellext/contextmenu/context_menu_handler_win.h"
#include "shellext/factory/com_boundary_win.h"
#include "shellext/factory/live_object_count_win.h"

namespace vellum::band {

namespace {

// Everything the server builds after load, set up on the first entry point
// call that needs it and torn down in one place, in the order written in
// docs/ARCHITECTURE.md ("Start-up and shut-down"). Touched only on the shell's
// user-interface thread, as for every in-process server of this kind.
class ServerState {
 public:
  ServerState() {
    // Templates are cloned by streaming, which re-creates them by class name.
    // The framework's other handler kinds are not part of this server.
    RegisterComponentClass(shellext::DUduzContextMenuHandler::StaticClass());
    RegisterComponentClass(shellext::DUduzDesktopBandHandler::StaticClass());
    RegisterComponentClass(shellext::DUduzFactoryManager::StaticClass());
    // A thread of the multi-threaded apartment refuses OleInitialize; then
    // the server owes it nothing.
    if (SUCCEEDED(OleInitialize(nullptr))) ole_thread_ = GetCurrentThreadId();
    try {
      BuildDataModule();
    } catch (...) {
      // Not built: the next call starts again, and must not find OLE taken twice.
      if (ole_thread_ != 0) OleUninitialize();
      throw;
    }
  }
  ServerState(const ServerState&) = delete;
  ServerState& operator=(const ServerState&) = delete;

  shellext::DUduzFactoryManager* FactoryManager() const { return factory_manager_; }

  // Runs at detach, under the loader lock: windows are destroyed, hooks
  // removed and classes unregistered (user32 is loaded and these wait for no
  // other thread); no library is loaded or freed and no thread waited for.
  void TearDown(bool process_ending) {
    // 1. The templates and the factory manager.
    factory_manager_ = nullptr;
    data_module_.reset();
    // 2.-5. The band forms and what they run on.
    TearDownBandForms();
    // 6. The thread's OLE. Detach is the only moment left for it: once built,
    // the templates keep DllCanUnloadNow at S_FALSE, so the host unloads us
    // without another call. It is given back only on the thread that took it
    // (OleUninitialize acts on the calling thread) and not when the process
    // is ending (COM goes with the process; its clean-up may wait for threads
    // that are already gone). In the shell and in registration tools the
    // host's own initialisation lies below ours, so this only lowers a count.
    if (ole_thread_ != 0 && ole_thread_ == GetCurrentThreadId() && !process_ending) OleUninitialize();
    ole_thread_ = 0;
  }

 private:
  void BuildDataModule() {
    data_module_ = std::make_unique<TDataModule1>();
    for (int i = 0; i < data_module_->ComponentCount(); ++i) {
      if (auto* manager = dynamic_cast<shellext::DUduzFactoryManager*>(data_module_->Components(i))) {
        factory_manager_ = manager;  // the last one wins
      }
    }
    if (factory_manager_ == nullptr) return;
    for (int i = 0; i < data_module_->ComponentCount(); ++i) {
      Component* component = data_module_->Components(i);
      if (component != factory_manager_) factory_manager_->AddToComponentList(*component);
    }
  }

  std::unique_ptr<TDataModule1> data_module_;
  shellext::DUduzFactoryManager* factory_manager_ = nullptr;
  DWORD ole_thread_ = 0;
};

// Built on first use, never at load: a static object would be made under the
// loader lock and freed there in an order nobody chose.
ServerState* g_server = nullptr;
unsigned short g_saved_control_word = 0;
unsigned g_saved_sse_control = 0;

ServerState& Server() {
  if (g_server == nullptr) g_server = new ServerState;
  return *g_server;
}

}  // namespace

void TearDownBandForms() {
  // 2. The band forms, windows and all; each leaves the hook updater as it goes.
  shellext::DUduzGarbageCollector::DestroyInstance();
  // 3. The thread hooks and the control subclass left behind.
  shellext::DUduzHookUpdater::DestroyInstance();
  // 4. The cross-thread call window.
  shellext::TSyncHelper::DestroyInstance();
  // 5. The window classes, now that no window of theirs is left.
  gui::UnregisterWindowClasses();
}

bool ServerInitialised() {
  return g_server != nullptr;
}

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const HRESULT result = shellext::ComBoundary("DllGetClassObject", CLASS_E_CLASSNOTAVAILABLE, [&]() -> HRESULT {
    shellext::DUduzFactoryManager* manager = Server().FactoryManager();
    if (!IsEqualIID(riid, IID_IClassFactory) || manager == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = manager->GetClassObject(clsid);
    *object = factory.Detach();
    return *object != nullptr ? S_OK : CLASS_E_CLASSNOTAVAILABLE;
  });
  if (FAILED(result)) *object = nullptr;
  return result;
}

// While the server is built its templates are live objects, so S_OK comes
// only when nothing is built and there is nothing to tear down.
HRESULT ServerCanUnloadNow() {
  return shellext::ComBoundary("DllCanUnloadNow", S_FALSE,
                               [] { return shellext::LiveObjectCount() == 0 ? S_OK : S_FALSE; });
}

HRESULT ServerRegister() {
  return shellext::ComBoundary("DllRegisterServer", S_FALSE, []() -> HRESULT {
    shellext::DUduzFactoryManager* manager = Server().FactoryManager();
    if (manager == nullptr) return S_FALSE;
    manager->RegisterAllServers();
    return S_OK;
  });
}

HRESULT ServerUnregister() {
  return shellext::ComBoundary("DllUnregisterServer", S_FALSE, []() -> HRESULT {
    shellext::DUduzFactoryManager* manager = Server().FactoryManager();
    if (manager == nullptr) return S_FALSE;
    manager->UnregisterAllServers();
    return S_OK;
  });
}

void ProcessAttach() {
  g_saved_control_word = ReadFpuControlWord();
  WriteFpuControlWord(kBandFpuControlWord);
  if constexpr (kBandSetsSseControl) {
    g_saved_sse_control = ReadSseControl();
    WriteSseControl(kBandSseControl);
  }
}

void ProcessDetach(bool process_ending) {
  WriteFpuControlWord(g_saved_control_word);
  if constexpr (kBandSetsSseControl) WriteSseControl(g_saved_sse_control);
  ServerShutdown(process_ending);
}

void ServerShutdown(bool process_ending) {
  if (g_server == nullptr) return;
  ServerState* server = g_server;
  server->TearDown(process_ending);
  g_server = nullptr;
  delete server;
}

}  // namespace vellum::band
