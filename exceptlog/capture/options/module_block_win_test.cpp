#include "exceptlog/capture/options/module_block_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_identity_win.h"
#include "exceptlog/capture/options/shared_block_name.h"
#include "exceptlog/capture/options/shared_block_win.h"

namespace vellum::exceptlog {
namespace {

class ModuleBlock : public ::testing::Test {
 protected:
  void SetUp() override { CreateEmptyModuleBlock(); }
  void TearDown() override { ReleaseModuleBlock(); }

  // What another module of this process would find for this one.
  bool ReadBack(TRuzadaModuleOptions& reader) {
    return LoadPublishedModuleOptions(ThisModuleHandle(), reader, kOptionsBlockVersion);
  }
};

TEST_F(ModuleBlock, StartsEmptyAndCarriesEveryPublishedChange) {
  const std::string name = ModuleBlockName(ThisModuleHandle());
  EXPECT_EQ(name,
            SharedBlockName(GetCurrentProcessId(), reinterpret_cast<std::uintptr_t>(ThisModuleHandle()), "MODULE"));
  EXPECT_EQ(name.size(), reinterpret_cast<std::uintptr_t>(ThisModuleHandle()) >> 16 >> 16 ? 30u : 22u);
  {
    const auto block = SharedBlock::Open(name);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->Size(), 1u);
    EXPECT_EQ(block->Data()[0], 0);
  }
  TRuzadaModuleOptions reader("", false);
  EXPECT_FALSE(ReadBack(reader)) << "nothing published yet";

  TRuzadaModuleOptionsEx options(ThisModuleFileName(), true, ModuleBlockPublisher());
  options.SetMailSubject("Published");
  options.SetFilterClassNames({"EAbort"});
  ASSERT_TRUE(ReadBack(reader));
  EXPECT_EQ(reader.MailSubject(), "Published");
  EXPECT_EQ(reader.FilterMessages(), std::vector<std::string>{""});
  EXPECT_EQ(SharedBlock::Open(name)->Size(), options.PublishedImage().size());

  ReleaseModuleBlock();
  EXPECT_FALSE(SharedBlock::Open(name)) << "released blocks are gone";
  EXPECT_FALSE(ReadBack(reader));
}

TEST_F(ModuleBlock, ABlockHeldElsewhereIsReusedWhileItIsLargeEnough) {
  TRuzadaModuleOptionsEx options(ThisModuleFileName(), true, ModuleBlockPublisher());
  options.SetMailBody(std::string(2000, 'b'));
  auto held = SharedBlock::Open(ModuleBlockName(ThisModuleHandle()));
  ASSERT_TRUE(held);
  const std::uint32_t held_size = held->Size();

  options.SetMailBody("short");
  EXPECT_EQ(held->Size(), held_size) << "the holder's view does not move";
  TRuzadaModuleOptions reader("", false);
  ASSERT_TRUE(ReadBack(reader));
  EXPECT_EQ(reader.MailBody(), "short");

  // The old block cannot grow: the publication is withdrawn instead of
  // overrunning it or leaving the stale one readable.
  EXPECT_THROW(options.SetMailBody(std::string(3000, 'c')), ESharedBlockError);
  EXPECT_EQ(held->Data()[0], 0);
  EXPECT_FALSE(ReadBack(reader));

  held.reset();
  options.SetMailBody(std::string(3000, 'c'));
  ASSERT_TRUE(ReadBack(reader));
  EXPECT_EQ(reader.MailBody().size(), 3000u);
}

TEST_F(ModuleBlock, DamagedOrMissingBlocksOfOtherModulesAreRecognised) {
  const auto other_module = reinterpret_cast<HMODULE>(0x7E570000);
  TRuzadaModuleOptions reader("", false);
  EXPECT_FALSE(LoadPublishedModuleOptions(other_module, reader, kOptionsBlockVersion));

  SharedBlock forged = SharedBlock::Create(ModuleBlockName(other_module), 16);
  forged.Data()[0] = 1;
  EXPECT_THROW(LoadPublishedModuleOptions(other_module, reader, kOptionsBlockVersion), EReadError)
      << "a marker with too little data behind it";
  const std::uint32_t huge = 0x7FFFFFF0;
  std::memcpy(forged.Data() - 4, &huge, sizeof huge);
  EXPECT_THROW(SharedBlock::Open(ModuleBlockName(other_module)), ESharedBlockError);
  EXPECT_THROW(SharedBlock::Create(ModuleBlockName(other_module), 8), ESharedBlockError);
}

}  // namespace
}  // namespace vellum::exceptlog
