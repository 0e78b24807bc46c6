#include "exceptlog/capture/hooking/win/method_hooks_win.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"

namespace vellum::exceptlog {
// Outside the anonymous namespace: the compiler must not conclude that it
// knows every class deriving from these and call their methods directly.
namespace method_probes {

// No virtual destructor: the two methods sit in slots 0 and 1.
struct Probe {
  virtual int First() const { return 1; }
  virtual int Second() const { return 2; }
};

struct Replacement {
  virtual int First() const { return 100; }
};

template <int N>
struct Derived : Probe {
  int First() const override { return N; }
};

}  // namespace method_probes

namespace {

using method_probes::Derived;
using method_probes::Probe;
using method_probes::Replacement;

void* const* MethodTable(const void* object) {
  return *static_cast<void* const* const*>(object);
}

// Keeps the compiler from calling the method directly: the call must go
// through the object's method table.
[[gnu::noinline]] const Probe* Opaque(const Probe* probe) {
  asm volatile("" : "+r"(probe));
  return probe;
}

void* ReplacementFirst() {
  static const Replacement replacement;
  return MethodTable(&replacement)[0];
}

class MethodHooks : public ::testing::Test {
 protected:
  void SetUp() override { StartHooking(); }
  void TearDown() override { StopHooking(); }
};

TEST_F(MethodHooks, ASlotHookedTwiceAnswersTheFirstRecordedMethod) {
  const Probe probe;
  void* const* table = MethodTable(&probe);
  void* const original = table[0];

  EXPECT_EQ(HookVirtualMethod(table, 0, ReplacementFirst()), original);
  EXPECT_EQ(Opaque(&probe)->First(), 100);
  EXPECT_EQ(Opaque(&probe)->Second(), 2) << "the other slot is untouched";
  EXPECT_EQ(HookVirtualMethod(table, 0, ReplacementFirst()), original) << "not the hook itself";
  EXPECT_EQ(table[0], ReplacementFirst());

  EXPECT_TRUE(UnhookVirtualMethod(table, 0));
  EXPECT_EQ(table[0], original);
  EXPECT_EQ(Opaque(&probe)->First(), 1);
  EXPECT_FALSE(UnhookVirtualMethod(table, 0));
}

TEST_F(MethodHooks, StopRestoresEverySlot) {
  const Derived<5> five;
  const Derived<6> six;
  HookVirtualMethod(MethodTable(&five), 0, ReplacementFirst());
  HookVirtualMethod(MethodTable(&six), 0, ReplacementFirst());
  HookVirtualMethod(MethodTable(&six), 1, ReplacementFirst());
  EXPECT_EQ(Opaque(&six)->Second(), 100);
  StopHooking();
  EXPECT_EQ(Opaque(&five)->First(), 5);
  EXPECT_EQ(Opaque(&six)->First(), 6);
  EXPECT_EQ(Opaque(&six)->Second(), 2);
  EXPECT_THROW(HookVirtualMethod(MethodTable(&five), 0, ReplacementFirst()), EHookingError);
}

TEST_F(MethodHooks, SlotsOutsideLoadedModulesAreNotChanged) {
  void* fake_table[2] = {reinterpret_cast<void*>(0x1234), reinterpret_cast<void*>(0x5678)};
  EXPECT_EQ(HookVirtualMethod(fake_table, 0, ReplacementFirst()), reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(fake_table[0], reinterpret_cast<void*>(0x1234));
  EXPECT_FALSE(UnhookVirtualMethod(fake_table, 0));
  EXPECT_EQ(HookVirtualMethod(nullptr, 0, ReplacementFirst()), nullptr);
}

// Runtime threads hook their classes from whatever thread creates them.
TEST_F(MethodHooks, ThreadsHookAndUnhookConcurrently) {
  const Derived<10> a;
  const Derived<11> b;
  const Derived<12> c;
  const Derived<13> d;
  const std::vector<const Probe*> probes = {&a, &b, &c, &d};
  std::vector<std::thread> threads;
  for (const Probe* probe : probes) {
    threads.emplace_back([probe] {
      void* const* table = MethodTable(probe);
      void* const original = table[0];
      for (int i = 0; i < 300; ++i) {
        if (HookVirtualMethod(table, 0, ReplacementFirst()) != original) ADD_FAILURE() << "lost the original";
        if (!UnhookVirtualMethod(table, 0)) ADD_FAILURE() << "lost the record";
      }
      HookVirtualMethod(table, 0, ReplacementFirst());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const Probe* probe : probes) EXPECT_EQ(Opaque(probe)->First(), 100);
  StopHooking();
  EXPECT_EQ(Opaque(&a)->First(), 10);
  EXPECT_EQ(Opaque(&d)->First(), 13);
}

}  // namespace
}  // namespace vellum::exceptlog
