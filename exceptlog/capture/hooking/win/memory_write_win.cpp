#include "exceptlog/capture/hooking/win/memory_write_win.h"

#include <cstring>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/trampoline.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

std::uintptr_t PageSize() {
  static const std::uintptr_t size = [] {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return static_cast<std::uintptr_t>(info.dwPageSize);
  }();
  return size;
}

// Makes every page of a range writable and, on leaving, gives each page its
// own protection back (one VirtualProtect over two pages would hand the
// first page's protection to both) and flushes the instruction cache.
class ScopedWritableRange {
 public:
  ScopedWritableRange(void* address, std::size_t size) : address_(address), size_(size) {
    const std::uintptr_t page = PageSize();
    const auto first = reinterpret_cast<std::uintptr_t>(address) & ~(page - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(address) + size - 1) & ~(page - 1);
    for (std::uintptr_t base = first;; base += page) {
      DWORD previous = 0;
      if (!VirtualProtect(reinterpret_cast<void*>(base), 1, PAGE_EXECUTE_READWRITE, &previous)) {
        const DWORD error = GetLastError();
        Restore();
        win::RaiseOSError("VirtualProtect", error);
      }
      pages_.push_back({reinterpret_cast<void*>(base), previous});
      if (base == last) break;
    }
  }
  ~ScopedWritableRange() {
    Restore();
    FlushInstructionCache(GetCurrentProcess(), address_, size_);
  }
  ScopedWritableRange(const ScopedWritableRange&) = delete;
  ScopedWritableRange& operator=(const ScopedWritableRange&) = delete;

 private:
  struct Page {
    void* base = nullptr;
    DWORD previous = 0;
  };
  void Restore() {
    for (const Page& page : pages_) {
      DWORD ignored = 0;
      VirtualProtect(page.base, 1, page.previous, &ignored);
    }
    pages_.clear();
  }
  void* address_ = nullptr;
  std::size_t size_ = 0;
  std::vector<Page> pages_;
};

}  // namespace

void WriteMem(void* address, const void* source, std::size_t size) {
  if (size == 0) return;
  ScopedWritableRange writable(address, size);
  std::memcpy(address, source, size);
}

void JumpToMem(void* at, const void* target) {
  if constexpr (kProcessCodeMode == CodeMode::k32) {
    // width: a 32-bit process's addresses are 32 bits wide.
    const auto jump =
        EncodeJump(static_cast<std::uint32_t>(AddressOf(at)), static_cast<std::uint32_t>(AddressOf(target)));
    WriteMem(at, jump.data(), jump.size());
  } else {
    const auto jump = EncodeNearJump64(AddressOf(at), AddressOf(target));
    if (!jump) throw EHookError("the jump's target is more than 2 GB from the jump");
    WriteMem(at, jump->data(), jump->size());
  }
}

bool IsNtPlatform() {
  static const bool nt = [] {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) return true;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }();
  return nt;
}

bool InSharedArea(const void* address) {
  return kProcessCodeMode == CodeMode::k32 && AddressOf(address) >= 0x80000000u;
}

std::string ModuleFileNameOf(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) == 0 || info.AllocationBase == nullptr) return {};
  char name[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), name, MAX_PATH);
  return std::string(name, length);
}

bool InsideLoadedModule(const void* address) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module) != 0;
}

}  // namespace vellum::exceptlog
