#include "exceptlog/capture/manager/raise_state_win.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"

namespace vellum::exceptlog {

namespace {

std::atomic<bool> raise_hook_enabled{false};

// A slot among the first 64, read from the thread's information block
// (TlsSlots: FS:0xE10 in a 32-bit thread, GS:0x1480 in a 64-bit one; the
// headers' own readers trip the compiler's array-bounds check).
void* DirectSlot(DWORD index) {
  void* value;
#if defined(__x86_64__)
  asm volatile("movq %%gs:0x1480(,%1,8), %0" : "=r"(value) : "r"(static_cast<std::uintptr_t>(index)));
#else
  asm volatile("movl %%fs:0xE10(,%1,4), %0" : "=r"(value) : "r"(static_cast<std::uintptr_t>(index)));
#endif
  return value;
}

// Where each thread finds its state: a slot of the system's own
// thread-local storage, read straight from the thread's information block.
// The C++ runtime's thread-local variables are emulated in this toolchain
// (three calls on every throw, a measurable part of what the raise hook
// costs); they still own the state, so that it is freed with the thread.
class StateSlot {
 public:
  // Nothing to run at the module's start: a throw in another file's start
  // (which may come first) finds no slot yet and takes the slow way.
  constexpr StateSlot() = default;
  ~StateSlot() {
    const DWORD index = index_.exchange(TLS_OUT_OF_INDEXES);
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
  }
  StateSlot(const StateSlot&) = delete;
  StateSlot& operator=(const StateSlot&) = delete;

  TRaiseState* Get() const {
    const DWORD index = index_.load(std::memory_order_acquire);
    if (index < kDirectSlots) return static_cast<TRaiseState*>(DirectSlot(index));
    if (index == TLS_OUT_OF_INDEXES) return nullptr;
    // TlsGetValue clears the last error, which a catch handler may read.
    const DWORD error = GetLastError();
    void* value = TlsGetValue(index);
    SetLastError(error);
    return static_cast<TRaiseState*>(value);
  }
  // The slot is taken on the first thread's first use.
  void Set(TRaiseState* state) {
    DWORD index = index_.load(std::memory_order_acquire);
    const DWORD error = GetLastError();
    if (index == TLS_OUT_OF_INDEXES && state != nullptr) {
      const DWORD fresh = TlsAlloc();
      if (fresh != TLS_OUT_OF_INDEXES && !index_.compare_exchange_strong(index, fresh)) {
        TlsFree(fresh);  // another thread was first: `index` is its slot
      } else {
        index = fresh;
      }
    }
    if (index != TLS_OUT_OF_INDEXES) TlsSetValue(index, state);
    SetLastError(error);
  }

 private:
  // The block holds the first 64 slots; later ones live elsewhere.
  static constexpr DWORD kDirectSlots = 64;
  std::atomic<DWORD> index_{TLS_OUT_OF_INDEXES};
};

StateSlot state_slot;

// The owner: freed with the thread by the C runtime's thread-local storage,
// which empties the slot first. The pointer is the only thread-local object:
// the state itself is too large to be built on every thread that merely
// touches it.
class OwnedState {
 public:
  ~OwnedState() {
    if (state_) state_slot.Set(nullptr);
  }
  TRaiseState& Make() {
    state_ = std::make_unique<TRaiseState>();
    state_slot.Set(state_.get());
    return *state_;
  }
  TRaiseState* Get() const { return state_.get(); }

 private:
  std::unique_ptr<TRaiseState> state_;
};

thread_local OwnedState thread_state;

}  // namespace

TRaiseState& CurrentRaiseState() {
  if (TRaiseState* state = state_slot.Get()) return *state;
  // Without a slot (none left) the runtime's own storage serves.
  if (TRaiseState* state = thread_state.Get()) return *state;
  return thread_state.Make();
}

TRaiseState* ExistingRaiseState() {
  if (TRaiseState* state = state_slot.Get()) return state;
  return thread_state.Get();
}

void EnableRaiseHook(bool enabled) {
  raise_hook_enabled.store(enabled, std::memory_order_release);
}

bool RaiseHookEnabled() {
  return raise_hook_enabled.load(std::memory_order_acquire);
}

void RecordRaise(TRaiseState& state, const void* object, std::uintptr_t raise_address, std::uintptr_t stack_position,
                 bool language) {
  // A new throw whose object happens to sit where a reported one was.
  if (object != nullptr && object == state.reported_object) state.reported_object = nullptr;
  state.object = object;
  state.raise_address = raise_address;
  state.stack_position = stack_position;
  state.stack_top = CurrentStackBase();
  state.language = language;
  // The copy ends at the stack's base; the stack between the position and
  // the base is this thread's own and committed, so it reads without a probe.
  const std::uintptr_t available = state.stack_top > stack_position ? state.stack_top - stack_position : 0;
  state.copy_size = static_cast<std::uint32_t>(std::min<std::uintptr_t>(available, kStackCopyBytes));
  if (state.copy_size != 0) {
    std::memcpy(state.copy, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(stack_position)),
                state.copy_size);
  }
}

void ClearRaise(TRaiseState& state) {
  state.object = nullptr;
  state.raise_address = 0;
  state.stack_position = 0;
  state.copy_size = 0;
  state.context_valid = false;
  state.walk_valid = false;
  state.fault_pending = false;
}

}  // namespace vellum::exceptlog
