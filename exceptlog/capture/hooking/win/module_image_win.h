// Reading a loaded module's image, where every byte is checked before it is
// read: the handle may name anything.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "runtime/exception.h"

namespace vellum::exceptlog {

template <typename T>
std::optional<T> ReadForeign(std::uintptr_t address) {
  if (!MemoryIsReadable(reinterpret_cast<const void*>(address), sizeof(T))) return std::nullopt;
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof(T));
  return value;
}

// "MZ", the new header's offset at 0x3C, "PE\0\0" and the headers of this
// process's own kind: PE32 (248 bytes) in a 32-bit process, PE32+ (264 bytes)
// in a 64-bit one. A module of the other kind cannot run here; its optional
// header, whose fields lie elsewhere, is refused by its magic.
inline std::optional<IMAGE_NT_HEADERS> ReadImageHeaders(HMODULE module) {
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const auto dos = ReadForeign<IMAGE_DOS_HEADER>(base);
  if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
  const auto nt = ReadForeign<IMAGE_NT_HEADERS>(base + static_cast<std::uint32_t>(dos->e_lfanew));
  if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return std::nullopt;
  if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return std::nullopt;
  return nt;
}

}  // namespace vellum::exceptlog
