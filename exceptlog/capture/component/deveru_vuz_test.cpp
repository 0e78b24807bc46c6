#include "exceptlog/capture/component/deveru_vuz.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/component/property_access.h"

namespace vellum::exceptlog {
namespace {

// The list lives from the subsystem's start to its stop; each test is one
// such span.
class ComponentListTest : public ::testing::Test {
 protected:
  void SetUp() override { TDeveruVuzList::Create(); }
  void TearDown() override { TDeveruVuzList::Free(); }
};

TEST_F(ComponentListTest, LaterComponentRunsFirstAndEitherCanClearHandled) {
  std::vector<std::string> calls;
  TDeveruVuz first;
  TDeveruVuz second;
  first.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool& handled) {
    calls.push_back("first saw " + std::to_string(handled));
  };
  second.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool& handled) {
    calls.push_back("second saw " + std::to_string(handled));
    handled = false;
  };
  bool handled = true;
  FireEvent(&TDeveruVuz::OnExceptionNotify, TRuzadaExceptionRecord{}, handled);
  EXPECT_EQ(calls, (std::vector<std::string>{"second saw 1", "first saw 0"}));
  EXPECT_FALSE(handled);

  // The earlier one clearing it is as good.
  calls.clear();
  second.OnExceptionNotify = nullptr;
  first.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool& h) { h = false; };
  handled = true;
  FireEvent(&TDeveruVuz::OnExceptionNotify, TRuzadaExceptionRecord{}, handled);
  EXPECT_FALSE(handled);
}

TEST_F(ComponentListTest, DestroyedComponentIsNoLongerCalled) {
  int calls = 0;
  auto doomed = std::make_unique<TDeveruVuz>();
  doomed->OnCustomDataRequest = [&](const TRuzadaExceptionRecord&, std::string&) { ++calls; };
  EXPECT_TRUE(HasHandler(&TDeveruVuz::OnCustomDataRequest));
  doomed.reset();
  EXPECT_FALSE(HasHandler(&TDeveruVuz::OnCustomDataRequest));
  std::string data;
  FireEvent(&TDeveruVuz::OnCustomDataRequest, TRuzadaExceptionRecord{}, data);
  EXPECT_EQ(calls, 0);
}

TEST_F(ComponentListTest, HandlerThatFreesAnotherComponentSkipsIt) {
  // A band form's handler may close the form that owns another component.
  auto victim = std::make_unique<TDeveruVuz>();
  int victim_calls = 0;
  victim->OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool&) { ++victim_calls; };
  TDeveruVuz killer;  // created later, so it runs first
  killer.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool&) { victim.reset(); };
  bool handled = true;
  FireEvent(&TDeveruVuz::OnExceptionNotify, TRuzadaExceptionRecord{}, handled);
  EXPECT_EQ(victim_calls, 0);
}

TEST_F(ComponentListTest, HasHandlerLooksAtOneEventOnly) {
  TDeveruVuz component;
  EXPECT_FALSE(HasHandler(&TDeveruVuz::OnExceptionNotify));
  component.OnPasswordRequest = [](const TRuzadaExceptionRecord&, std::string& password) { password += "!"; };
  EXPECT_FALSE(HasHandler(&TDeveruVuz::OnExceptionNotify));
  EXPECT_TRUE(HasHandler(&TDeveruVuz::OnPasswordRequest));
  std::string password = "secret";
  FireEvent(&TDeveruVuz::OnPasswordRequest, TRuzadaExceptionRecord{}, password);
  EXPECT_EQ(password, "secret!");
}

TEST(ComponentListLifetime, ComponentsOutsideTheSubsystemsLifetimeAreNotListed) {
  TDeveruVuz before;  // no list yet
  TDeveruVuzList::Create();
  EXPECT_FALSE(TDeveruVuzList::Contains(before));
  {
    TDeveruVuz during;
    EXPECT_TRUE(TDeveruVuzList::Contains(during));
    EXPECT_EQ(TDeveruVuzList::Components().size(), 1u);
  }
  EXPECT_TRUE(TDeveruVuzList::Components().empty());
  auto outliving = std::make_unique<TDeveruVuz>();
  TDeveruVuzList::Free();
  EXPECT_FALSE(TDeveruVuzList::Exists());
  outliving.reset();  // destroyed after the stop: nothing to leave
  TDeveruVuz after;
  EXPECT_FALSE(TDeveruVuzList::Contains(after));
}

TEST(DeveruVuzClass, PublishesItsSevenEventsByName) {
  // Designer code assigns handlers by property name.
  TDeveruVuz component;
  int calls = 0;
  TExceptionNotify handler = [&](const TRuzadaExceptionRecord&, bool&) { ++calls; };
  SetEventHandler(component, "OnExceptionNotify", std::any(handler));
  bool handled = true;
  ASSERT_TRUE(component.OnExceptionNotify);
  component.OnExceptionNotify(TRuzadaExceptionRecord{}, handled);
  EXPECT_EQ(calls, 1);
  for (const char* name : {"OnExceptionActionNotify", "OnExceptionErrorNotify", "OnPasswordRequest",
                           "OnCustomDataRequest", "OnAttachedFilesRequest", "OnCustomFieldsRequest"}) {
    EXPECT_NE(TDeveruVuz::StaticClass().FindProperty(name), nullptr) << name;
  }
}

TEST(ErrorCodes, NamesAreTheEnumerationsOwn) {
  EXPECT_STREQ(ErrorCodeName(eeNone), "eeNone");
  EXPECT_STREQ(ErrorCodeName(eeEmailSMTPError), "eeEmailSMTPError");
  EXPECT_STREQ(ErrorCodeName(eeWebFTPError), "eeWebFTPError");
  EXPECT_STREQ(ErrorCodeName(static_cast<TDeveruVuzErrorCode>(42)), "eeNone");
}

}  // namespace
}  // namespace vellum::exceptlog
