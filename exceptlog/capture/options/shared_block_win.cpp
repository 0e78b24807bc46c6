#include "exceptlog/capture/options/shared_block_win.h"

#include <cstring>

#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {

namespace {

HANDLE CreateMapping(const std::string& name, std::uint32_t data_size) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, data_size + 4, name.c_str());
}

[[noreturn]] void RaiseBlockError(const std::string& name, const std::string& problem) {
  throw ESharedBlockError("Shared block \"" + name + "\": " + problem);
}

}  // namespace

win::UniqueMappedView SharedBlock::MapWhole(HANDLE mapping, const std::string& name, std::uint32_t& stored_size) {
  win::UniqueMappedView view(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!view) win::RaiseLastOSError("MapViewOfFile");
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(view.get(), &region, sizeof region) == 0) win::RaiseLastOSError("VirtualQuery");
  std::memcpy(&stored_size, view.get(), sizeof stored_size);
  // The view is the mapping rounded up to whole pages, so a size that does
  // not fit it cannot be the one its creator wrote.
  if (region.RegionSize < kSizeFieldLength || stored_size > region.RegionSize - kSizeFieldLength) {
    RaiseBlockError(name, "damaged size field (" + std::to_string(stored_size) + " bytes)");
  }
  return view;
}

SharedBlock SharedBlock::Create(const std::string& name, std::uint32_t size) {
  if (size > MAXDWORD - kSizeFieldLength) RaiseBlockError(name, "too large");
  win::UniqueKernelHandle mapping(CreateMapping(name, size));
  if (!mapping) win::RaiseLastOSError("CreateFileMappingA");
  std::uint32_t capacity = size;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // A holder elsewhere keeps the old block alive and its size cannot
    // change; go on with the size it was made with.
    MapWhole(mapping.get(), name, capacity);
    mapping.reset(CreateMapping(name, capacity));
    if (!mapping) win::RaiseLastOSError("CreateFileMappingA");
  }
  if (capacity < size) {
    RaiseBlockError(name,
                    "in use with room for " + std::to_string(capacity) + " bytes, " + std::to_string(size) + " needed");
  }
  win::UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!view) win::RaiseLastOSError("MapViewOfFile");
  std::memcpy(view.get(), &size, sizeof size);
  return SharedBlock(std::move(mapping), std::move(view), size);
}

std::optional<SharedBlock> SharedBlock::Open(const std::string& name) {
  win::UniqueKernelHandle mapping(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()));
  if (!mapping) return std::nullopt;
  std::uint32_t size = 0;
  win::UniqueMappedView view = MapWhole(mapping.get(), name, size);
  return SharedBlock(std::move(mapping), std::move(view), size);
}

}  // namespace vellum::exceptlog
