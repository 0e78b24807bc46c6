// Any bytes as the shell's cached list of a category's classes: the reader
// must answer for every input, read nothing outside it, and find the band
// only in a list that holds it. The same bytes as a class identifier's text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "band/band_ids.h"
#include "band/doctor/category_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellum::band;
  static const ClassId band = *ParseClassId(kDeskBandClsid);
  const std::span<const std::uint8_t> bytes(data, size);
  const CacheListing listing = FindInCategoryCache(bytes, band);
  if (listing == CacheListing::kListed &&
      std::search(bytes.begin(), bytes.end(), band.begin(), band.end()) == bytes.end()) {
    __builtin_trap();
  }
  ParseClassId(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
