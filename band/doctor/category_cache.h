// The shell's cache of the classes that implement a component category. The
// taskbar's Toolbars menu lists the desk bands from this cache while it
// exists, so a band registered after the cache was written stays missing
// until the cache is gone. Read from the registry's bytes, which anything may
// have written: every count and size is checked against what is there.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vellum::band {

// A class identifier as a GUID is stored: the first three fields
// little-endian, the last eight bytes as they are.
using ClassId = std::array<std::uint8_t, 16>;

// "{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6D}", braces required, either case.
std::optional<ClassId> ParseClassId(std::string_view text);

// The name of the value below a category's cache key that lists the classes
// implementing it.
inline constexpr char kImplementingValue[] = "Implementing";

enum class CacheListing {
  kListed,
  kNotListed,
  // Not in the cache's layout; the shell does not trust such a cache either
  // and reads the registry instead, so it hides nothing.
  kUnreadable,
};

// The value's layout: a header (its own size, a version, the time it was
// written as a SYSTEMTIME, the number of classes) followed by that many
// class identifiers.
CacheListing FindInCategoryCache(std::span<const std::uint8_t> implementing, const ClassId& class_id);

}  // namespace vellum::band
