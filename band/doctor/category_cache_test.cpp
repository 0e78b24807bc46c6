#include "band/doctor/category_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum::band {
namespace {

// The band's identifier as the bytes a GUID is stored in, written out by hand.
const ClassId kBand = {0x51, 0x6C, 0x3F, 0x8A, 0x4E, 0x2D, 0x7A, 0x4B, 0x9C, 0x0D, 0x5E, 0x1F, 0x2A, 0x3B, 0x4C, 0x6D};
const ClassId kOther = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00};

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A cache value as the shell writes it: header size, version 1, a written
// time, the class count, then the classes.
std::vector<std::uint8_t> Cache(const std::vector<ClassId>& classes, std::uint32_t header_size = 28,
                                std::optional<std::uint32_t> count = std::nullopt) {
  std::vector<std::uint8_t> bytes(header_size, 0xEE);
  Put32(bytes, 0, header_size);
  Put32(bytes, 4, 1);
  Put32(bytes, 24, count.value_or(static_cast<std::uint32_t>(classes.size())));
  for (const ClassId& id : classes) bytes.insert(bytes.end(), id.begin(), id.end());
  return bytes;
}

TEST(CategoryCache, ClassIdentifiersReadAsTheSystemStoresThem) {
  EXPECT_EQ(ParseClassId("{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6D}"), kBand);
  EXPECT_EQ(ParseClassId("{8a3f6c51-2d4e-4b7a-9c0d-5e1f2a3b4c6d}"), kBand);
  for (const char* wrong : {"8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6D", "{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6}",
                            "{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6G}", "{8A3F6C512-D4E-4B7A-9C0D-5E1F2A3B4C6D}",
                            "{8A3F6C51-2D4E-4B7A-9C0D-5E1F2A3B4C6D", ""}) {
    EXPECT_FALSE(ParseClassId(wrong)) << wrong;
  }
}

TEST(CategoryCache, TheBandIsFoundWhereverItStandsInTheList) {
  EXPECT_EQ(FindInCategoryCache(Cache({kBand}), kBand), CacheListing::kListed);
  EXPECT_EQ(FindInCategoryCache(Cache({kOther, kOther, kBand}), kBand), CacheListing::kListed);
  EXPECT_EQ(FindInCategoryCache(Cache({kOther}), kBand), CacheListing::kNotListed);
  EXPECT_EQ(FindInCategoryCache(Cache({}), kBand), CacheListing::kNotListed);
  // A longer header of a later version: the classes start where it says it ends.
  EXPECT_EQ(FindInCategoryCache(Cache({kBand}, 36), kBand), CacheListing::kListed);
}

TEST(CategoryCache, OnlyTheCountedClassesCount) {
  // Bytes past the counted classes are not part of the list.
  EXPECT_EQ(FindInCategoryCache(Cache({kOther, kBand}, 28, 1), kBand), CacheListing::kNotListed);
  // The band's bytes straddling two entries are no entry.
  std::vector<std::uint8_t> shifted = Cache({kOther, kOther});
  std::copy(kBand.begin(), kBand.end(), shifted.begin() + 28 + 8);
  EXPECT_EQ(FindInCategoryCache(shifted, kBand), CacheListing::kNotListed);
}

TEST(CategoryCache, AValueOutOfShapeIsUnreadableNotStale) {
  EXPECT_EQ(FindInCategoryCache({}, kBand), CacheListing::kUnreadable);
  std::vector<std::uint8_t> cut = Cache({kBand});
  cut.resize(27);
  EXPECT_EQ(FindInCategoryCache(cut, kBand), CacheListing::kUnreadable);
  EXPECT_EQ(FindInCategoryCache(Cache({kBand}, 28, 2), kBand), CacheListing::kUnreadable) << "count beyond the data";
  EXPECT_EQ(FindInCategoryCache(Cache({kBand}, 28, 0xFFFFFFFF), kBand), CacheListing::kUnreadable);
  std::vector<std::uint8_t> header_too_big = Cache({kBand});
  Put32(header_too_big, 0, 0xFFFFFFF0);
  EXPECT_EQ(FindInCategoryCache(header_too_big, kBand), CacheListing::kUnreadable);
  std::vector<std::uint8_t> header_too_small = Cache({kBand});
  Put32(header_too_small, 0, 4);
  EXPECT_EQ(FindInCategoryCache(header_too_small, kBand), CacheListing::kUnreadable);
}

}  // namespace
}  // namespace vellum::band
