// The subsystem's exports. A module that carries the subsystem names both in
// its .def file: other modules of the process hand their exceptions to the
// main module's ExceptionManager, and the module list asks every module for
// the password of its protected names.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

namespace {

// An exception handed over by another module: its objects belong to that
// module's runtime, so the report works on a copy of its class chain and
// message.
class EForwardedException final : public Exception {
 public:
  explicit EForwardedException(const Exception& original) : Exception(original.Message()) {
    for (std::string_view name : original.ClassChain()) chain_.emplace_back(name);
    if (chain_.empty()) chain_.emplace_back("Exception");
  }
  const char* ClassName() const noexcept override { return chain_.front().c_str(); }
  bool InheritsFrom(std::string_view class_name) const noexcept override {
    return std::find(chain_.begin(), chain_.end(), class_name) != chain_.end();
  }

 protected:
  void AppendClassChain(std::vector<std::string_view>& chain) const override {
    for (const std::string& name : chain_) chain.emplace_back(name);
  }

 private:
  std::vector<std::string> chain_;
};

}  // namespace

}  // namespace vellum::exceptlog

extern "C" {

// The address is pointer-sized: a DWORD in a 32-bit module, as before.
BOOL WINAPI ExceptionManager(const void* exception_object, ULONG_PTR exception_address, DWORD raise_kind,
                             HMODULE module) {
  using namespace vellum;
  using namespace vellum::exceptlog;
  try {
    if (!IsValidExceptionObject(exception_object, &MemoryIsReadable)) return TRUE;
    const auto& original = *static_cast<const Exception*>(exception_object);
    const std::exception_ptr error = std::make_exception_ptr(EForwardedException(original));
    return ExceptionManager(error, exception_address, static_cast<TRaiseKind>(raise_kind), module) ? TRUE : FALSE;
  } catch (...) {
    return TRUE;  // another module's call: nothing may escape into it
  }
}

void WINAPI DeveruVuz_PasswordRequestEvent(unsigned char* buffer, DWORD capacity) {
  using namespace vellum::exceptlog;
  if (buffer == nullptr) return;
  try {
    const std::size_t length = std::min<std::size_t>(buffer[0], 255);
    std::string password(reinterpret_cast<const char*>(buffer + 1), length);
    if (HasHandler(&TDeveruVuz::OnPasswordRequest)) {
      const TRuzadaExceptionRecord* current = CurrentExceptionRecord();
      const TRuzadaExceptionRecord record = current != nullptr ? *current : TRuzadaExceptionRecord{};
      RunInRaisingThread([&] { FireEvent(&TDeveruVuz::OnPasswordRequest, record, password); });
    }
    const std::size_t kept = std::min<std::size_t>({password.size(), capacity, 255});
    buffer[0] = static_cast<unsigned char>(kept);
    std::memcpy(buffer + 1, password.data(), kept);
  } catch (...) {
  }
}

}  // extern "C"
