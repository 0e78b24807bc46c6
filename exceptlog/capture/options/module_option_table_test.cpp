#include "exceptlog/capture/options/module_option_table.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/module_options_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::ChangeEveryOption;
using testing::ChangeEveryOptionOfTheTable;
using testing::CountingOptions;

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3u;
  return hash;
}

std::vector<std::uint8_t> SavedBytes(const TRuzadaModuleOptions& options) {
  MemoryStream stream;
  options.SaveToStream(stream);
  return stream.Bytes();
}

// Modules already built carry these bytes in their stored block, and the
// modules of one process read each other's published options, so the form
// written at the current version may not move by a single byte.
TEST(ModuleOptionTable, TheCurrentStoredFormKeepsItsBytes) {
  const std::vector<std::uint8_t> defaults = SavedBytes(TRuzadaModuleOptions("", false));
  EXPECT_EQ(defaults.size(), 2006u);
  EXPECT_EQ(Fnv1a(defaults), 0x6D4701D83DC558A2u);

  TRuzadaModuleOptions changed("", false);
  ChangeEveryOption(changed);
  const std::vector<std::uint8_t> bytes = SavedBytes(changed);
  EXPECT_EQ(bytes.size(), 1413u);
  EXPECT_EQ(Fnv1a(bytes), 0x275C0E0F4BCECF54u);
  // The head spelled out, so that a moved field shows where it went.
  const std::vector<std::uint8_t> head = {0x00, 0x00, 0x0F, 0x01, 0x00, 0x02, 0x01, 0x11, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 11), head);
}

TEST(ModuleOptionTable, EveryOptionSurvivesSavingAndLoadingAtTheCurrentVersion) {
  const TRuzadaModuleOptions defaults("", false);
  TRuzadaModuleOptions source("", false);
  ChangeEveryOptionOfTheTable(source);
  MemoryStream stream;
  source.SaveToStream(stream);
  stream.SetPosition(0);
  TRuzadaModuleOptions copy("", false);
  copy.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size());

  int options = 0;
  ForEachModuleOption([&](const auto& option) {
    ++options;
    const auto& changed = source.Values().*option.Member;
    EXPECT_NE(changed, defaults.Values().*option.Member) << option.Name << " kept its default";
    EXPECT_EQ(copy.Values().*option.Member, changed) << option.Name;
  });
  EXPECT_EQ(options, kModuleOptionCount);
  EXPECT_EQ(copy.Values(), source.Values());
}

TEST(ModuleOptionTable, EverySetterAnnouncesAndAssignCopiesEveryOption) {
  CountingOptions options;
  ForEachModuleOption([&options](const auto& option) {
    options.changes = 0;
    (options.*option.Set)(testing::OtherValue((options.*option.Get)(), option.Name));
    EXPECT_EQ(options.changes, 1) << option.Name;
  });

  TRuzadaModuleOptions target("", false);
  target.Assign(&options);
  ForEachModuleOption([&](const auto& option) {
    EXPECT_EQ(target.Values().*option.Member, options.Values().*option.Member) << option.Name;
  });
}

}  // namespace
}  // namespace vellum::exceptlog
