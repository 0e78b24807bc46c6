#include "shellext/registration/desk_band_registration_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "runtime/win/text_conversion_win.h"
#include "shellext/registration/registry_dump_win.h"
#include "shellext/registration/registry_operations_win.h"

namespace vellum::shellext {
namespace {

using testing::Dump;
using testing::DumpedValue;
using testing::KeyExists;
using testing::RegistryDump;
using testing::Sz;

const std::string kCategoryRoot = std::string("Component Categories\\") + kCatIdDeskBand;
const std::string kCategoryCache = kCategoryRoot + "\\Enum";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

DWORD SubKeyCount(HKEY root, const std::string& path) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return 0;
  const win::UniqueRegKey key(raw);
  DWORD count = 0;
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  return count;
}

bool IsShortName(const std::string& component) {
  if (component.find(' ') != std::string::npos) return false;
  const std::size_t dot = component.find('.');
  const std::string base = component.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : component.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && extension.size() <= 3 && extension.find('.') == std::string::npos;
}

// Each test registers a band of its own random class identifier in Wine's
// real registry and removes everything it made afterwards.
class DeskBandRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registration_.SetDescription("Vellum Tessera 7.0");
    registration_.SetScope(ensMachine);
    class_key_ = "CLSID\\" + registration_.Clsid();
    category_existed_ = KeyExists(HKEY_CLASSES_ROOT, kCategoryRoot);
  }
  void TearDown() override {
    UnregisterDeskBand(registration_);
    if (!category_existed_) DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, kCategoryRoot);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key_));
  }

  // The approval value, or type REG_NONE when it is not there.
  DumpedValue Approval() const {
    const RegistryDump approved = Dump(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey);
    const auto values = approved.find("");
    if (values == approved.end()) return {};
    const auto value = values->second.find(registration_.Clsid());
    return value == values->second.end() ? DumpedValue{} : value->second;
  }

  void FillCategoryCache() const {
    ASSERT_TRUE(WriteRegistryString(HKEY_CLASSES_ROOT, kCategoryCache + "\\Implementations", "Cached", "1"));
  }

  DUduzBandRegistration registration_;
  std::string class_key_;
  bool category_existed_ = false;
};

TEST_F(DeskBandRegistrationTest, WritesTheClassItsServerTheCategoryAndTheApprovalAndNothingElse) {
  FillCategoryCache();
  RegisterDeskBand(registration_, "Vellum Tessera 7");

  RegistryDump written = Dump(HKEY_CLASSES_ROOT, class_key_);
  ASSERT_TRUE(written.count("InProcServer32") && written["InProcServer32"].count(""));
  const std::string server_path =
      written["InProcServer32"][""].data.substr(0, written["InProcServer32"][""].data.size() - 1);
  const std::string category = std::string("Implemented Categories\\") + kCatIdDeskBand;
  const RegistryDump expected = {
      {"", {{"", Sz("Vellum Tessera 7")}, {"Description", Sz("Vellum Tessera 7.0")}}},
      {"InProcServer32", {{"", Sz(server_path)}, {"ThreadingModel", Sz("Apartment")}}},
      {"Implemented Categories", {}},
      // Present with a zero-length text: the key itself marks the desk band.
      {category, {{"", DumpedValue{REG_SZ, std::string(1, '\0')}}}},
  };
  EXPECT_EQ(written, expected);
  EXPECT_EQ(Approval(), Sz("Vellum Tessera 7.0"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kCategoryCache)) << "the shell's category cache is dropped";
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kCategoryRoot)) << "the category itself stays";

  // The server is this module, in short form.
  char module[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, module, sizeof module), 0u);
  char long_form[MAX_PATH];
  ASSERT_GT(GetLongPathNameA(server_path.c_str(), long_form, sizeof long_form), 0u) << server_path;
  EXPECT_EQ(Lower(long_form), Lower(module));
  std::size_t start = server_path.find('\\') + 1;  // after the drive
  while (start < server_path.size()) {
    const std::size_t end = std::min(server_path.find('\\', start), server_path.size());
    EXPECT_TRUE(IsShortName(server_path.substr(start, end - start))) << server_path;
    start = end + 1;
  }
}

TEST_F(DeskBandRegistrationTest, RegisteringTwiceLeavesTheSameEntries) {
  RegisterDeskBand(registration_, "Vellum Tessera 7");
  const RegistryDump first = Dump(HKEY_CLASSES_ROOT, class_key_);
  const DumpedValue first_approval = Approval();
  RegisterDeskBand(registration_, "Vellum Tessera 7");
  EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, class_key_), first);
  EXPECT_EQ(Approval(), first_approval);
  EXPECT_EQ(first.size(), 4u);
}

TEST_F(DeskBandRegistrationTest, UnregisteringRemovesEverythingOtherToolsAddedAndTwiceIsSilent) {
  RegisterDeskBand(registration_, "Vellum Tessera 7");
  ASSERT_TRUE(WriteRegistryString(HKEY_CLASSES_ROOT, class_key_ + "\\Extra\\Deeper\\Deepest", "Note", "added"));
  ASSERT_TRUE(WriteRegistryString(HKEY_CLASSES_ROOT, class_key_ + "\\InProcServer32\\Options", "", "x"));
  ASSERT_TRUE(WriteRegistryString(
      HKEY_CLASSES_ROOT, class_key_ + "\\Implemented Categories\\{62C8FE65-4EBB-45E7-B440-6E39B2CDBF29}", "", ""));
  UnregisterDeskBand(registration_);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key_));
  EXPECT_EQ(Approval().type, static_cast<DWORD>(REG_NONE));

  EXPECT_NO_THROW(UnregisterDeskBand(registration_));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key_));
}

TEST_F(DeskBandRegistrationTest, WhenNotEnteredInTheRegistryNothingIsWrittenButAllIsRemoved) {
  FillCategoryCache();
  registration_.SetRegisterInRegistry(false);
  RegisterDeskBand(registration_, "Vellum Tessera 7");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key_));
  EXPECT_EQ(Approval().type, static_cast<DWORD>(REG_NONE));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kCategoryCache)) << "not even the cache is touched";

  registration_.SetRegisterInRegistry(true);
  RegisterDeskBand(registration_, "Vellum Tessera 7");
  registration_.SetRegisterInRegistry(false);
  UnregisterDeskBand(registration_);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, class_key_));
  EXPECT_EQ(Approval().type, static_cast<DWORD>(REG_NONE));
}

TEST_F(DeskBandRegistrationTest, ADescriptionBeyondAsciiIsWrittenAsAnsiText) {
  const std::string description = "Vellum Tessera \xE9\xE8\xFC 7.0";  // in the ANSI code page
  registration_.SetDescription(description);
  RegisterDeskBand(registration_, "Vellum \xC4");

  EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, class_key_)[""]["Description"], Sz(description));
  EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, class_key_)[""][""], Sz("Vellum \xC4"));
  EXPECT_EQ(Approval(), Sz(description));

  // Read through the wide functions, the system converts it from the ANSI
  // code page: the text was not stored as UTF-8 or raw bytes of another kind.
  const std::wstring expected = win::WideFromAnsi(description);
  ASSERT_FALSE(expected.empty());
  wchar_t stored[64] = {};
  DWORD size = sizeof stored;
  const std::wstring key(class_key_.begin(), class_key_.end());
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"Description", RRF_RT_REG_SZ, nullptr, stored, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(stored, expected.c_str());
  if (GetACP() == 1252) {
    EXPECT_STREQ(stored, L"Vellum Tessera \u00E9\u00E8\u00FC 7.0");
  }
}

TEST_F(DeskBandRegistrationTest, AClassIdentifierThatIsNoGuidIsRefusedBeforeTheRegistryIsTouched) {
  const RegistryDump approved_before = Dump(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey);
  const DWORD classes_before = SubKeyCount(HKEY_CLASSES_ROOT, "CLSID");
  ASSERT_GT(classes_before, 0u);
  for (const std::string& bad : {std::string(), std::string("{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D}\\..\\x"),
                                 std::string("6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D")}) {
    DUduzBandRegistration broken;
    broken.SetClsid(bad);
    EXPECT_THROW(RegisterDeskBand(broken, "Vellum"), ERegistrationError) << bad;
    EXPECT_THROW(UnregisterDeskBand(broken), ERegistrationError) << bad;
  }
  EXPECT_EQ(SubKeyCount(HKEY_CLASSES_ROOT, "CLSID"), classes_before) << "the system's classes are all there";
  EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey), approved_before);

  // Lower-case hexadecimal is still a class identifier.
  DUduzBandRegistration lower;
  lower.SetClsid(Lower(registration_.Clsid()));
  EXPECT_NO_THROW(UnregisterDeskBand(lower));
}

}  // namespace
}  // namespace vellum::shellext
