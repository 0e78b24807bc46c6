#include "shellext/factory/com_boundary_win.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace vellum::shellext {
namespace {

struct Sighting {
  std::string method;
  std::string what;  // the message, or "?" for what is no std::exception
};

std::vector<Sighting> g_sightings;

void Record(const std::exception_ptr& error, const char* method) {
  Sighting sighting{method, "?"};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    sighting.what = e.what();
  } catch (...) {
  }
  g_sightings.push_back(sighting);
}

void ThrowFromHandler(const std::exception_ptr&, const char*) {
  throw std::runtime_error("the reporter failed too");
}

class ComBoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sightings.clear();
    previous_ = SetComBoundaryHandler(&Record);
  }
  void TearDown() override { SetComBoundaryHandler(previous_); }

 private:
  ComBoundaryHandler previous_ = nullptr;
};

TEST_F(ComBoundaryTest, WhatTheBodyAnswersPassesAndTheHandlerHearsNothing) {
  EXPECT_EQ(ComBoundary("IFoo::Bar", E_FAIL, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(ComBoundary("IFoo::Bar", E_FAIL, [] { return E_INVALIDARG; }), E_INVALIDARG);
  EXPECT_TRUE(g_sightings.empty());
}

TEST_F(ComBoundaryTest, EveryKindOfThrowGivesTheFixedResultAndReachesTheHandlerOnceWithTheMethod) {
  EXPECT_EQ(ComBoundary("IDeskBand::GetBandInfo", E_NOTIMPL, []() -> HRESULT { throw EInvalidOperation("no form"); }),
            E_NOTIMPL);
  EXPECT_EQ(ComBoundary("IOleWindow::GetWindow", E_FAIL, []() -> HRESULT { throw std::length_error("too long"); }),
            E_FAIL);
  EXPECT_EQ(ComBoundary("DllGetClassObject", CLASS_E_CLASSNOTAVAILABLE, []() -> HRESULT { throw 42; }),
            CLASS_E_CLASSNOTAVAILABLE);
  // A success code can be the fixed result too (SetSite always answers S_OK).
  EXPECT_EQ(ComBoundary("IObjectWithSite::SetSite", S_OK, []() -> HRESULT { throw std::bad_alloc(); }), S_OK);
  ASSERT_EQ(g_sightings.size(), 4u);
  EXPECT_EQ(g_sightings[0].method, "IDeskBand::GetBandInfo");
  EXPECT_EQ(g_sightings[0].what, "no form");
  EXPECT_EQ(g_sightings[1].method, "IOleWindow::GetWindow");
  EXPECT_EQ(g_sightings[1].what, "too long");
  EXPECT_EQ(g_sightings[2].method, "DllGetClassObject");
  EXPECT_EQ(g_sightings[2].what, "?");
  EXPECT_EQ(g_sightings[3].method, "IObjectWithSite::SetSite");
}

TEST_F(ComBoundaryTest, NothingLeavesWithoutAHandlerOrThroughAFailingOne) {
  SetComBoundaryHandler(nullptr);
  EXPECT_EQ(ComBoundary("IFoo::Bar", E_UNEXPECTED, []() -> HRESULT { throw Exception("unheard"); }), E_UNEXPECTED);
  EXPECT_EQ(SetComBoundaryHandler(&ThrowFromHandler), nullptr);
  EXPECT_EQ(ComBoundary("IFoo::Bar", E_UNEXPECTED, []() -> HRESULT { throw Exception("heard"); }), E_UNEXPECTED);
  EXPECT_EQ(SetComBoundaryHandler(&Record), &ThrowFromHandler);
  EXPECT_TRUE(g_sightings.empty());
}

}  // namespace
}  // namespace vellum::shellext
