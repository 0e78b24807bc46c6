#include "exceptlog/capture/options/module_options_ex.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_options_test_support.h"

namespace vellum::exceptlog {
namespace {

struct Publications {
  std::vector<std::vector<std::uint8_t>> images;
  TRuzadaModuleOptionsEx::Publisher Publisher() {
    return [this](const std::vector<std::uint8_t>& image) { images.push_back(image); };
  }
};

TEST(ModuleOptionsEx, PublishesMarkerAndStoredFormOnEveryAnnouncedChange) {
  Publications published;
  TRuzadaModuleOptionsEx options(ThisModuleFileName(), true, published.Publisher());
  testing::ChangeEveryOption(options);
  ASSERT_FALSE(published.images.empty());

  published.images.clear();
  options.BeginUpdate();
  options.SetMailSubject("Crash");
  options.SetUploadPort(8080);
  options.EndUpdate();
  options.Changed();
  ASSERT_EQ(published.images.size(), 1u);
  const std::vector<std::uint8_t>& image = published.images[0];
  ASSERT_EQ(image.at(0), 1);
  MemoryStream stream(std::vector<std::uint8_t>(image.begin() + 1, image.end()));
  TRuzadaModuleOptions reader("", false);
  reader.LoadFromStream(stream);
  ModuleOptionValues expected = options.Values();
  expected.FilterMessages.resize(expected.FilterClassNames.size());
  EXPECT_EQ(reader.Values(), expected);

  Publications foreign_published;
  TRuzadaModuleOptionsEx foreign("C:\\other.dll", true, foreign_published.Publisher());
  foreign.SetMailSubject("x");
  TRuzadaModuleOptionsEx current("", false, foreign_published.Publisher());
  current.Assign(&options);
  EXPECT_TRUE(foreign_published.images.empty()) << "only this module's publishing options publish";
}

class WatchdogSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFreezeWatchdogControl({[this](const TRuzadaModuleOptions& o) { return &o == running_module; },
                              [this] { calls.push_back("start"); }, [this] { calls.push_back("stop"); }});
  }
  void TearDown() override { SetFreezeWatchdogControl({}); }

  const TRuzadaModuleOptions* running_module = nullptr;
  std::vector<std::string> calls;
};

TEST_F(WatchdogSwitch, RunningModuleOptionsStartAndStopTheWatchdogOnRealChanges) {
  TRuzadaModuleOptionsEx options("", false);
  running_module = &options;
  options.SetFreezeCheck(true);
  options.SetFreezeCheck(true);
  options.SetEnabled(false);
  options.SetEnabled(true);
  options.SetFreezeCheck(false);
  EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop", "start", "stop"}));
  EXPECT_FALSE(options.FreezeCheck());

  calls.clear();
  TRuzadaModuleOptions source("", false);
  source.SetFreezeCheck(true);
  options.Assign(&source);
  EXPECT_EQ(calls, std::vector<std::string>{"start"}) << "a copy switches the watchdog too";
  options.SetDefaults();
  EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(WatchdogSwitch, OtherOptionsOnlyStoreTheValue) {
  TRuzadaModuleOptionsEx options("", false);
  TRuzadaModuleOptionsEx running("", false);
  running_module = &running;
  options.SetFreezeCheck(true);
  options.SetEnabled(false);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(options.FreezeCheck());
  EXPECT_FALSE(options.Enabled());
}

}  // namespace
}  // namespace vellum::exceptlog
