// A named, pagefile-backed block of memory shared by the modules of a
// process: a 32-bit data size, then the data. The size field is read from
// memory another module (or process) may have written, so it is checked
// against the mapped view before any use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/exception.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(ESharedBlockError, Exception);

class SharedBlock {
 public:
  // A block for `size` data bytes. When a block of that name exists already
  // (another holder keeps it open), it is re-opened with its stored size;
  // raises ESharedBlockError when that is too small for `size`.
  static SharedBlock Create(const std::string& name, std::uint32_t size);
  // The existing block of that name, or nothing when there is none.
  static std::optional<SharedBlock> Open(const std::string& name);

  std::uint8_t* Data() const { return static_cast<std::uint8_t*>(view_.get()) + kSizeFieldLength; }
  std::uint32_t Size() const { return size_; }

 private:
  static constexpr std::uint32_t kSizeFieldLength = 4;

  SharedBlock(win::UniqueKernelHandle mapping, win::UniqueMappedView view, std::uint32_t size)
      : mapping_(std::move(mapping)), view_(std::move(view)), size_(size) {}

  // Maps the whole mapping and reads its size field, checked against the view.
  static win::UniqueMappedView MapWhole(HANDLE mapping, const std::string& name, std::uint32_t& stored_size);

  win::UniqueKernelHandle mapping_;
  win::UniqueMappedView view_;
  std::uint32_t size_ = 0;
};

}  // namespace vellum::exceptlog
