#include "shellext/registration/registration_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/component/property_access.h"
#include "runtime/registry/registry_test_key_win.h"
#include "shellext/registration/registry_dump_win.h"
#include "shellext/registration/registry_guid_win.h"
#include "shellext/registration/registry_operations_win.h"

namespace vellum::shellext {
namespace {

using testing::Dump;
using testing::DumpedValue;
using testing::KeyExists;
using testing::RegistryDump;
using testing::Sz;

TEST(Registration, DefaultsAreARandomClassIdentifierInRegistryFormAndPerUserScope) {
  const DUduzBandRegistration first;
  const DUduzBandRegistration second;
  EXPECT_TRUE(IsRegistryGuid(first.Clsid())) << first.Clsid();
  EXPECT_NE(first.Clsid(), second.Clsid());
  for (const char c : first.Clsid()) EXPECT_FALSE(c >= 'a' && c <= 'z') << "upper-case hexadecimal";
  EXPECT_TRUE(first.RegisterInRegistry());
  EXPECT_EQ(first.Description(), "");
  EXPECT_EQ(first.Scope(), ensUser);
  EXPECT_TRUE(first.InheritsFrom("DUduzBaseRegistration"));

  std::vector<std::string> names;
  for (const PropertyInfo* property : DUduzBandRegistration::StaticClass().Properties())
    names.push_back(property->name);
  EXPECT_EQ(names, (std::vector<std::string>{"RegisterInRegistry", "CLSID", "Description", "Scope"}));

  constexpr GUID kKnown = {0x00021492, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  EXPECT_EQ(GuidToRegistryString(kKnown), "{00021492-0000-0000-C000-000000000046}");
}

TEST(Registration, ChangingTheScopeNotifiesAndAssignCopiesEverything) {
  DUduzBaseRegistration registration;
  int changes = 0;
  registration.OnChange = [&](DUduzBaseRegistration& sender) {
    EXPECT_EQ(&sender, &registration);
    ++changes;
  };
  SetEnumProperty(registration, "Scope", "ensMachine");
  registration.SetScope(ensMachine);
  EXPECT_EQ(changes, 1) << "setting the same value again is no change";

  DUduzBandRegistration source;
  source.SetRegisterInRegistry(false);
  source.SetDescription("Vellum Tessera 7.0");
  registration.Assign(&source);
  EXPECT_EQ(registration.Clsid(), source.Clsid());
  EXPECT_EQ(registration.Description(), "Vellum Tessera 7.0");
  EXPECT_FALSE(registration.RegisterInRegistry());
  EXPECT_EQ(registration.Scope(), ensUser);
  EXPECT_EQ(changes, 2);
  EXPECT_THROW(registration.Assign(nullptr), EConvertError);
}

class RegistryOperationsTest : public ::testing::Test {
 protected:
  vellum::testing::ScratchKey scratch_{"registry-operations"};
  const std::string& path() const { return scratch_.path(); }
};

TEST_F(RegistryOperationsTest, WritesZeroTerminatedStringsAndCreatesTheKeys) {
  EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + "\\CLSID\\InProcServer32\\", "", ""));
  EXPECT_TRUE(
      WriteRegistryString(HKEY_CURRENT_USER, path() + "\\CLSID\\InProcServer32", "ThreadingModel", "Apartment"));
  EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + "\\CLSID", "ThreadingModel", "Both"));
  EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + "\\CLSID", "ThreadingModel", "Free"));
  const RegistryDump expected = {
      {"", {}},
      {"CLSID", {{"ThreadingModel", Sz("Free")}}},
      // The trailing backslash names the same key; an empty text is one zero byte.
      {"CLSID\\InProcServer32", {{"", DumpedValue{REG_SZ, std::string(1, '\0')}}, {"ThreadingModel", Sz("Apartment")}}},
  };
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, path()), expected);

  EXPECT_FALSE(WriteRegistryString(reinterpret_cast<HKEY>(0x1234), "Nowhere", "", "x")) << "failure is a result";
}

TEST_F(RegistryOperationsTest, DeletesWholeTreesAndSingleValuesAndIgnoresWhatIsMissing) {
  for (const char* key : {"\\Band\\A\\A1\\A1a", "\\Band\\A\\A2", "\\Band\\B", "\\Band\\C\\C1", "\\Beside"}) {
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + key, "Value", key));
  }
  ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + "\\Beside", "Other", "kept"));

  DeleteRegistryKeyTree(HKEY_CURRENT_USER, path() + "\\Band");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path() + "\\Band"));
  DeleteRegistryValue(HKEY_CURRENT_USER, path() + "\\Beside", "Value");
  const RegistryDump expected = {{"", {}}, {"Beside", {{"Other", Sz("kept")}}}};
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, path()), expected);

  DeleteRegistryKeyTree(HKEY_CURRENT_USER, path() + "\\Band");
  DeleteRegistryValue(HKEY_CURRENT_USER, path() + "\\Beside", "Value");
  DeleteRegistryValue(HKEY_CURRENT_USER, path() + "\\Missing", "Value");
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, path()), expected);

  ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path() + "\\Trailing\\Child", "", "x"));
  DeleteRegistryKeyTree(HKEY_CURRENT_USER, path() + "\\Trailing\\");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path() + "\\Trailing"));
}

}  // namespace
}  // namespace vellum::shellext
