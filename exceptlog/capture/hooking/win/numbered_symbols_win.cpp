#include "exceptlog/capture/hooking/win/numbered_symbols_win.h"

#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/capture/hooking/win/module_image_win.h"
#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {

std::span<const std::uint8_t> StoredBlockResource(HMODULE module) {
  const HRSRC found = FindResourceA(module, "ELDATA", MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const auto* bytes = loaded != nullptr ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr || size < 4) return {};
  const std::span<const std::uint8_t> block(bytes, size);
  return exceptlog::LoadU32(block.data()) == kStoredBlockMagic ? block : std::span<const std::uint8_t>{};
}

void* FindNumberedProcedure(HMODULE module, std::uint8_t number) {
  if (module == nullptr) return nullptr;
  const auto symbol = FindNumberedSymbol(StoredBlockResource(module), number);
  const auto headers = ReadImageHeaders(module);
  if (!symbol || !headers) return nullptr;
  // A table that points outside the image would have a hook patch whatever
  // memory lies there.
  const std::uint64_t end = std::uint64_t{kCodeOffsetBase} + symbol->code_offset + symbol->size;
  if (end > headers->OptionalHeader.SizeOfImage) return nullptr;
  return reinterpret_cast<std::uint8_t*>(module) + kCodeOffsetBase + symbol->code_offset;
}

void* LookupHookTarget(HMODULE module, std::uint8_t number, const char* package, const char* exported_name) {
  if (void* found = FindNumberedProcedure(module, number)) return found;
  if (package == nullptr || exported_name == nullptr) return nullptr;
  const HMODULE loaded = GetModuleHandleA(package);
  return loaded != nullptr ? reinterpret_cast<void*>(GetProcAddress(loaded, exported_name)) : nullptr;
}

}  // namespace vellum::exceptlog
