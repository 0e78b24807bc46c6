// The machine's kept facts: what a report reads from them is what it would
// have asked itself, and the adapters are asked again exactly when their
// watch saw a change.
#include "exceptlog/report/system/machine_facts_win.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/system/network_watch_win.h"
#include "exceptlog/report/system/report_entry_win.h"

namespace vellum::exceptlog {
namespace {

// A watch the test changes, counting how often it was armed.
class FakeWatch final : public ChangeWatch {
 public:
  FakeWatch(bool can_watch, int& armed, bool& changed) : can_watch_(can_watch), armed_(armed), changed_(changed) {}
  bool Arm() override {
    ++armed_;
    changed_ = false;
    return can_watch_;
  }
  bool Changed() override { return changed_; }

 private:
  bool can_watch_;
  int& armed_;
  bool& changed_;
};

struct FakeNetwork {
  int asked = 0;
  std::string address = "10.0.0.1";
  MachineFacts::AdapterQuery Query() {
    return [this] {
      ++asked;
      NetworkAdapter adapter;
      adapter.ip_address = address;
      return std::vector<NetworkAdapter>{adapter};
    };
  }
};

TEST(MachineFacts, BeforeWarmingNothingIsKeptAndTheSystemIsNotAsked) {
  FakeNetwork network;
  int armed = 0;
  bool changed = false;
  MachineFacts facts(network.Query(), std::make_unique<FakeWatch>(true, armed, changed));
  EXPECT_FALSE(facts.IsWarm());
  EXPECT_FALSE(facts.Processor());
  EXPECT_FALSE(facts.MainModule());
  EXPECT_FALSE(facts.DriveRoot(GetModuleHandleA(nullptr)));
  EXPECT_FALSE(facts.Adapters());
  EXPECT_EQ(network.asked, 0);
  EXPECT_EQ(armed, 0);
}

TEST(MachineFacts, WarmFactsAreWhatTheSystemAnswersNow) {
  FakeNetwork network;
  int armed = 0;
  bool changed = false;
  MachineFacts facts(network.Query(), std::make_unique<FakeWatch>(true, armed, changed));
  HMODULE program = GetModuleHandleA(nullptr);
  facts.Warm(program);
  EXPECT_TRUE(facts.IsWarm());
  EXPECT_EQ(facts.Processor(), ProcessorName());
  ASSERT_TRUE(facts.MainModule());
  EXPECT_EQ(facts.MainModule()->name_description, MainModuleVersion().name_description);
  EXPECT_EQ(facts.MainModule()->version, MainModuleVersion().version);
  EXPECT_EQ(facts.DriveRoot(program), DriveRootOf(program));
  EXPECT_FALSE(facts.DriveRoot(GetModuleHandleA("kernel32.dll"))) << "only the warmed module's drive";
  EXPECT_EQ(armed, 1) << "armed before the adapters were asked";
  EXPECT_EQ(network.asked, 1);
}

TEST(MachineFacts, AdaptersAreAskedAgainOnlyAfterTheWatchSawAChange) {
  FakeNetwork network;
  int armed = 0;
  bool changed = false;
  MachineFacts facts(network.Query(), std::make_unique<FakeWatch>(true, armed, changed));
  facts.Warm(GetModuleHandleA(nullptr));
  for (int read = 0; read < 3; ++read) {
    const auto kept = facts.Adapters();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->at(0).ip_address, "10.0.0.1");
  }
  EXPECT_EQ(network.asked, 1);

  network.address = "10.0.0.2";
  changed = true;
  const auto after_change = facts.Adapters();
  ASSERT_TRUE(after_change);
  EXPECT_EQ(after_change->at(0).ip_address, "10.0.0.2");
  EXPECT_EQ(network.asked, 2);
  EXPECT_EQ(armed, 2) << "the watch is armed again before the adapters are asked";
  EXPECT_EQ(facts.Adapters()->at(0).ip_address, "10.0.0.2");
  EXPECT_EQ(network.asked, 2) << "kept again";
}

TEST(MachineFacts, WithoutAWatchTheAdaptersAreNeverKept) {
  FakeNetwork network;
  int armed = 0;
  bool changed = false;
  MachineFacts facts(network.Query(), std::make_unique<FakeWatch>(false, armed, changed));
  facts.Warm(GetModuleHandleA(nullptr));
  EXPECT_TRUE(facts.IsWarm());
  EXPECT_FALSE(facts.Adapters()) << "a report asks the system itself";
  EXPECT_EQ(network.asked, 0);
}

TEST(MachineFacts, TheSystemsNetworkWatchArmsAndIsQuietAtFirst) {
  NetworkChangeWatch watch;
  ASSERT_TRUE(watch.Arm()) << "the address watch is there under Windows and Wine";
  EXPECT_FALSE(watch.Changed());
  EXPECT_TRUE(watch.Arm()) << "armed again while still pending";
  EXPECT_FALSE(watch.Changed());
}

// The general part of a report is the same whether the rare facts come from
// the warmed shared facts or are asked now; only the volatile ones may move.
TEST(MachineFacts, AReportSaysTheSameWithTheFactsKept) {
  TRuzadaModuleOptions options("machine_facts_test.exe", false);
  options.SetReportFields(TReportFields::All());
  PipelineReport report;
  report.console = true;
  report.subsystem_module = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  report.record.Options = &options;
  MachineFacts asked_now;
  MachineFacts kept;
  kept.Warm(GetModuleHandleA(nullptr));
  const GeneralFacts fresh = GatherGeneralFacts(report, options, asked_now);
  const GeneralFacts read = GatherGeneralFacts(report, options, kept);
  EXPECT_EQ(read.name_description, fresh.name_description);
  EXPECT_EQ(read.version, fresh.version);
  EXPECT_EQ(read.processor, fresh.processor);
  EXPECT_EQ(read.display_mode, fresh.display_mode);
  EXPECT_EQ(read.total_disk, fresh.total_disk);
  EXPECT_TRUE(read.free_disk.has_value());
  EXPECT_EQ(read.computer_name, fresh.computer_name);
  EXPECT_EQ(read.language, fresh.language);
  EXPECT_EQ(read.network.ip_address, fresh.network.ip_address);
  EXPECT_EQ(read.network.mask, fresh.network.mask);
  EXPECT_EQ(read.network.gateway, fresh.network.gateway);
  EXPECT_EQ(read.network.dns1, fresh.network.dns1);
  EXPECT_EQ(read.network.dns2, fresh.network.dns2);
  EXPECT_EQ(read.network.dhcp, fresh.network.dhcp);
  EXPECT_FALSE(read.processor.empty());
  EXPECT_FALSE(read.name_description.empty());
}

}  // namespace
}  // namespace vellum::exceptlog
