#include "band/server_module_win.h"

#include <ole2.h>

#include <memory>

#include "band/data_module_win.h"
#include "runtime/component/class_info.h"
#include "shellext/contextmenu/context_menu_handler_win.h"
#include "shellext/factory/live_object_count_win.h"

namespace vellum::band {

namespace {

// Module-wide state, touched only on the shell's user-interface thread (the
// flag is the only guard, as for every in-process server of this kind).
struct ServerState {
  bool initialised = false;
  std::unique_ptr<TDataModule1> data_module;
  shellext::DUduzFactoryManager* factory_manager = nullptr;
  unsigned short saved_control_word = 0;
  // OleInitialize succeeded here and detach owes the thread one
  // OleUninitialize. A thread of the multi-threaded apartment refuses it;
  // uninitialising anyway would take the host's own COM away.
  bool ole_initialised = false;
};

ServerState& State() {
  static ServerState state;
  return state;
}

void InitialiseOnce() {
  ServerState& state = State();
  if (state.initialised) return;
  // Templates are cloned by streaming, which re-creates them by class name.
  // The framework's other handler kinds are not part of this server.
  RegisterComponentClass(shellext::DUduzContextMenuHandler::StaticClass());
  RegisterComponentClass(shellext::DUduzDesktopBandHandler::StaticClass());
  RegisterComponentClass(shellext::DUduzFactoryManager::StaticClass());
  if (!state.ole_initialised) state.ole_initialised = SUCCEEDED(OleInitialize(nullptr));
  if (!state.data_module) state.data_module = std::make_unique<TDataModule1>();
  if (state.factory_manager == nullptr) {
    TDataModule1& module = *state.data_module;
    for (int i = 0; i < module.ComponentCount(); ++i) {
      if (auto* manager = dynamic_cast<shellext::DUduzFactoryManager*>(module.Components(i))) {
        state.factory_manager = manager;  // the last one wins
      }
    }
    if (state.factory_manager != nullptr) {
      for (int i = 0; i < module.ComponentCount(); ++i) {
        Component* component = module.Components(i);
        if (component != state.factory_manager) state.factory_manager->AddToComponentList(*component);
      }
    }
  }
  state.initialised = true;
}

}  // namespace

bool ServerInitialised() {
  return State().initialised;
}

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  try {
    InitialiseOnce();
    shellext::DUduzFactoryManager* manager = State().factory_manager;
    if (!IsEqualIID(riid, IID_IClassFactory) || manager == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = manager->GetClassObject(clsid);
    *object = factory.Detach();
    return *object != nullptr ? S_OK : CLASS_E_CLASSNOTAVAILABLE;
  } catch (...) {
    *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
}

HRESULT ServerCanUnloadNow() {
  try {
    return shellext::LiveObjectCount() == 0 ? S_OK : S_FALSE;
  } catch (...) {
    return S_FALSE;
  }
}

HRESULT ServerRegister() {
  try {
    InitialiseOnce();
    if (State().factory_manager == nullptr) return S_FALSE;
    State().factory_manager->RegisterAllServers();
    return S_OK;
  } catch (...) {
    return S_FALSE;
  }
}

HRESULT ServerUnregister() {
  try {
    InitialiseOnce();
    if (State().factory_manager == nullptr) return S_FALSE;
    State().factory_manager->UnregisterAllServers();
    return S_OK;
  } catch (...) {
    return S_FALSE;
  }
}

unsigned short ReadFpuControlWord() {
  unsigned short word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

void WriteFpuControlWord(unsigned short value) {
  __asm__ __volatile__("fldcw %0" : : "m"(value));
}

void ProcessAttach() {
  State().saved_control_word = ReadFpuControlWord();
  WriteFpuControlWord(kBandFpuControlWord);
}

void ProcessDetach() {
  ServerState& state = State();
  WriteFpuControlWord(state.saved_control_word);
  if (state.ole_initialised) OleUninitialize();
  state.ole_initialised = false;
  if (!state.initialised) return;
  state.factory_manager = nullptr;
  state.data_module.reset();
  state.initialised = false;
}

}  // namespace vellum::band
