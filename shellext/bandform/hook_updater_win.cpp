#include "shellext/bandform/hook_updater_win.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "runtime/gui/application_win.h"
#include "runtime/gui/control_win.h"
#include "runtime/gui/synchronize_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::shellext {

namespace {

const char kPreviousProcProperty[] = "VellumControlHookProc";

// Made on first use and destroyed by the server's tear-down, never by static
// destruction: the order in which hooks and windows go must not depend on it.
std::mutex g_instances_lock;
DUduzHookUpdater* g_updater = nullptr;
TSyncHelper* g_sync_helper = nullptr;

// The nearest hint up the parent chain, long part.
std::string HintFor(gui::TControl* control) {
  for (; control != nullptr; control = control->Parent()) {
    if (!control->Hint().empty()) return gui::TApplication::GetLongHint(control->Hint());
  }
  return std::string();
}

}  // namespace

// ---- TControlHook -----------------------------------------------------------

void TControlHook::Track(HWND window) {
  if (window == window_) return;
  HWND old = window_;
  Release();
  if (old != nullptr && IsWindow(old)) SendMessageA(old, gui::CM_MOUSELEAVE, 0, 0);
  if (window == nullptr || !IsWindow(window)) return;
  SendMessageA(window, gui::CM_MOUSEENTER, 0, 0);
  window_ = window;
  previous_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TControlHook::SubclassProc)));
  SetPropA(window, kPreviousProcProperty, reinterpret_cast<HANDLE>(previous_));
}

void TControlHook::Release() {
  if (window_ == nullptr) return;
  // Restore only if nobody subclassed the window after us.
  if (IsWindow(window_) &&
      GetWindowLongPtrA(window_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TControlHook::SubclassProc)) {
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  }
  if (IsWindow(window_)) RemovePropA(window_, kPreviousProcProperty);
  window_ = nullptr;
  previous_ = nullptr;
}

LRESULT CALLBACK TControlHook::SubclassProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropA(window, kPreviousProcProperty));
  if (msg == WM_DESTROY) {
    TControlHook& hook = DUduzHookUpdater::Instance().ControlHook();
    if (hook.window_ == window) hook.Release();
  }
  if (previous == nullptr) return DefWindowProcA(window, msg, wparam, lparam);
  return CallWindowProcA(previous, window, msg, wparam, lparam);
}

// ---- DUduzHookUpdater -------------------------------------------------------

DUduzHookUpdater& DUduzHookUpdater::Instance() {
  std::lock_guard guard(g_instances_lock);
  if (g_updater == nullptr) g_updater = new DUduzHookUpdater;
  return *g_updater;
}

void DUduzHookUpdater::DestroyInstance() {
  DUduzHookUpdater* updater = nullptr;
  {
    std::lock_guard guard(g_instances_lock);
    updater = std::exchange(g_updater, nullptr);
  }
  delete updater;
}

DUduzHookUpdater::~DUduzHookUpdater() {
  control_hook_.Release();
  // An unloaded module must leave no hook pointing into its code: each
  // record's hooks go with it.
  CriticalSectionLock guard(lock_);
  threads_.clear();
}

TThreadHook* DUduzHookUpdater::Find(DWORD thread_id) {
  for (const auto& record : threads_) {
    if (record->thread_id == thread_id) return record.get();
  }
  return nullptr;
}

const TThreadHook* DUduzHookUpdater::ThreadRecord(DWORD thread_id) {
  CriticalSectionLock guard(lock_);
  return Find(thread_id);
}

void DUduzHookUpdater::Register(DUduzBaseBandForm& form) {
  TSyncHelper::Instance();  // the utility window lives on the first band thread
  CriticalSectionLock guard(lock_);
  const DWORD thread_id = GetCurrentThreadId();
  TThreadHook* record = Find(thread_id);
  if (record == nullptr) {
    threads_.push_back(std::make_unique<TThreadHook>());
    record = threads_.back().get();
    record->thread_id = thread_id;
  }
  if (record->forms.empty()) {
    const HINSTANCE module = gui::ModuleInstance();
    record->idle_hook.reset(SetWindowsHookExA(WH_FOREGROUNDIDLE, &ForegroundIdleProc, module, thread_id));
    record->mouse_hook.reset(SetWindowsHookExA(WH_MOUSE, &MouseProc, module, thread_id));
    record->keyboard_hook.reset(SetWindowsHookExA(WH_KEYBOARD, &KeyboardProc, module, thread_id));
  }
  record->forms.push_back(&form);
}

void DUduzHookUpdater::Unregister(DUduzBaseBandForm& form) {
  CriticalSectionLock guard(lock_);
  for (auto it = threads_.begin(); it != threads_.end(); ++it) {
    auto& forms = (*it)->forms;
    const auto found = std::find(forms.begin(), forms.end(), &form);
    if (found == forms.end()) continue;
    forms.erase(found);
    if (forms.empty()) threads_.erase(it);  // and its hooks with it
    return;
  }
}

LRESULT CALLBACK DUduzHookUpdater::ForegroundIdleProc(int code, WPARAM wparam, LPARAM lparam) {
  DUduzHookUpdater& self = Instance();
  HHOOK next = nullptr;
  std::vector<DUduzBaseBandForm*> forms;
  {
    CriticalSectionLock guard(self.lock_);
    TThreadHook* record = self.Find(GetCurrentThreadId());
    if (record == nullptr) return 0;
    next = record->idle_hook.get();
    if (code >= 0) forms = record->forms;
  }
  if (code >= 0) {
    try {
      bool done = true;
      gui::TApplication& application = gui::Application();
      if (application.OnIdle) application.OnIdle(application, done);
      if (done) {
        for (DUduzBaseBandForm* form : forms) form->UpdateActions();
      }
    } catch (...) {
      gui::Application().HandleException(nullptr, std::current_exception());
    }
  }
  return CallNextHookEx(next, code, wparam, lparam);
}

LRESULT CALLBACK DUduzHookUpdater::MouseProc(int code, WPARAM wparam, LPARAM lparam) {
  DUduzHookUpdater& self = Instance();
  HHOOK next = nullptr;
  bool work = false;
  {
    CriticalSectionLock guard(self.lock_);
    TThreadHook* record = self.Find(GetCurrentThreadId());
    if (record == nullptr) return 0;
    next = record->mouse_hook.get();
    work = code >= 0;
  }
  if (work && wparam == WM_MOUSEMOVE) {
    try {
      const auto* info = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lparam);
      gui::TControl* control = gui::TControl::FindControlAt(info->pt);
      HWND window = control != nullptr && control->HandleAllocated() ? control->Handle() : nullptr;
      HWND capture = GetCapture();
      if (window != self.control_hook_.Tracked() && (capture == nullptr || capture == self.control_hook_.Tracked())) {
        self.control_hook_.Track(window);
      }
      if (control == nullptr) {
        gui::Application().CancelHint();
      }
      gui::Application().SetHint(HintFor(control));
    } catch (...) {
      gui::Application().HandleException(nullptr, std::current_exception());
    }
  }
  return CallNextHookEx(next, code, wparam, lparam);
}

LRESULT CALLBACK DUduzHookUpdater::KeyboardProc(int code, WPARAM wparam, LPARAM lparam) {
  DUduzHookUpdater& self = Instance();
  HHOOK next = nullptr;
  {
    CriticalSectionLock guard(self.lock_);
    TThreadHook* record = self.Find(GetCurrentThreadId());
    if (record == nullptr) return 0;
    next = record->keyboard_hook.get();
  }
  if (code >= 0) gui::Application().CancelHint();
  return CallNextHookEx(next, code, wparam, lparam);
}

// ---- TSyncHelper ------------------------------------------------------------

namespace {
const char kSyncClass[] = "TVellumSyncHelper";
}

TSyncHelper& TSyncHelper::Instance() {
  std::lock_guard guard(g_instances_lock);
  if (g_sync_helper == nullptr) g_sync_helper = new TSyncHelper;
  return *g_sync_helper;
}

void TSyncHelper::DestroyInstance() {
  TSyncHelper* helper = nullptr;
  {
    std::lock_guard guard(g_instances_lock);
    helper = std::exchange(g_sync_helper, nullptr);
  }
  delete helper;
}

TSyncHelper::TSyncHelper() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &TSyncHelper::WindowProc;
  window_class.hInstance = gui::ModuleInstance();
  window_class.lpszClassName = kSyncClass;
  gui::RegisterModuleWindowClass(window_class);
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kSyncClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            gui::ModuleInstance(), nullptr);
  if (window_ == nullptr) win::RaiseLastOSError("CreateWindowExA");
  gui::SetMainThreadId(GetCurrentThreadId());
  HWND window = window_;
  gui::SetWakeMainThread([window] { PostMessageA(window, WM_USER, 0, 0); });
}

TSyncHelper::~TSyncHelper() {
  gui::SetWakeMainThread(nullptr);
  DestroyWindow(window_);
}

LRESULT CALLBACK TSyncHelper::WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_USER) {
    try {
      gui::CheckSynchronize();
    } catch (...) {
      gui::Application().HandleException(nullptr, std::current_exception());
    }
    return 0;
  }
  return DefWindowProcA(window, msg, wparam, lparam);
}

}  // namespace vellum::shellext
