#include "exceptlog/capture/hooking/module_units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum::exceptlog {
namespace {

struct Trace {
  std::vector<std::string> events;
  ModuleLifecycleFlags flags;
  void Note(const std::string& what) {
    events.push_back(what + (flags.initializing ? " initializing" : "") + (flags.finalizing ? " finalizing" : ""));
  }
};

TEST(ModuleInitDoneHook, FlagsFollowTheModulesOwnStartAndEnd) {
  Trace trace;
  ModuleUnitTable table;
  table.Add({"runtime", [&] { trace.Note("init runtime"); }, [&] { trace.Note("done runtime"); }});
  table.Add({"capture", [&] { trace.Note("init capture"); }, [&] { trace.Note("done capture"); }});
  table.Add({"band", [&] { trace.Note("init band"); }, nullptr});
  table.Add({"tail", nullptr, nullptr});

  ASSERT_TRUE(HookModuleInitDone(table, trace.flags));
  trace.flags.initializing = true;
  table.RunInitializations();
  table.RunFinalizations();

  EXPECT_EQ(trace.events, (std::vector<std::string>{
                              "init runtime initializing",
                              "init capture initializing",
                              "init band initializing",   // still initializing inside the last one
                              "done capture finalizing",  // set before the first finalization runs
                              "done runtime finalizing",
                          }));
  EXPECT_FALSE(trace.flags.initializing);

  // The last initialization got its own procedure back.
  trace.events.clear();
  trace.flags.initializing = true;
  trace.flags.finalizing = false;
  table.units()[2].initialization();
  EXPECT_EQ(trace.events, std::vector<std::string>{"init band initializing"});
  EXPECT_TRUE(trace.flags.initializing);
}

TEST(ModuleInitDoneHook, ATableWithoutProceduresIsLeftAlone) {
  ModuleLifecycleFlags flags;
  ModuleUnitTable empty;
  EXPECT_FALSE(HookModuleInitDone(empty, flags));
  ModuleUnitTable bare;
  bare.Add({"bare", nullptr, nullptr});
  EXPECT_FALSE(HookModuleInitDone(bare, flags));
  EXPECT_FALSE(bare.units()[0].initialization);
}

}  // namespace
}  // namespace vellum::exceptlog
