#include "runtime/registry/registry_ini_file_win.h"

#include <gtest/gtest.h>

#include "runtime/registry/registry_test_key_win.h"
#include "runtime/strings/string_list.h"

namespace vellum {
namespace {

using testing::ScratchKey;

TEST(RegistryIniFile, CreatesItsKeyAndSectionsAndReadsDefaultsForWhatIsMissing) {
  ScratchKey scratch("ini-basic");
  const std::string base = scratch.path() + "\\Larchwood\\Vellum7\\";  // trailing backslash as the band writes it
  RegistryIniFile ini(base);
  EXPECT_TRUE(RegistryKey::Exists(HKEY_CURRENT_USER, base)) << "the base key exists from construction";
  EXPECT_FALSE(ini.SectionExists("Tessera"));
  EXPECT_EQ(ini.ReadString("Tessera", "CMDLINE", ""), "");
  EXPECT_EQ(ini.ReadInteger("Tessera", "Width", 7), 7);

  ini.WriteString("Tessera", "BarHandle", "-1234");
  ini.WriteString("Tessera", "CMDLINE", "C:\\Vellum\\vellum.exe");
  EXPECT_TRUE(ini.SectionExists("Tessera"));
  EXPECT_TRUE(ini.ValueExists("Tessera", "BarHandle"));
  EXPECT_FALSE(ini.ValueExists("Tessera", "DockPanel"));
  EXPECT_EQ(ini.ReadString("Tessera", "CMDLINE", ""), "C:\\Vellum\\vellum.exe");
  EXPECT_EQ(ini.ReadString("TESSERA", "cmdline", ""), "C:\\Vellum\\vellum.exe") << "registry names ignore case";
  EXPECT_EQ(ini.ReadInteger("Tessera", "BarHandle", 0), -1234) << "a text that holds a number reads as one";

  const RegistryKey raw = RegistryKey::Open(HKEY_CURRENT_USER, base + "Tessera", KEY_READ);
  EXPECT_EQ(raw.QueryValue("BarHandle")->type, static_cast<DWORD>(REG_SZ));

  RegistryIniFile again(base);
  EXPECT_EQ(again.ReadString("Tessera", "BarHandle", ""), "-1234") << "a second accessor sees the stored values";
}

TEST(RegistryIniFile, NumbersBooleansAndBinaryData) {
  ScratchKey scratch("ini-types");
  RegistryIniFile ini(scratch.path());
  ini.WriteInteger("Options", "Negative", -5);
  ini.WriteBool("Options", "On", true);
  ini.WriteBool("Options", "Off", false);
  ini.WriteString("Options", "Garbage", "12abc");
  const std::vector<std::uint8_t> blob{9, 0, 8, 0, 7};
  ini.WriteBinary("Options", "Blob", blob);
  ini.WriteBinary("Options", "NoBytes", {});

  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, scratch.path() + "\\Options", KEY_READ).QueryValue("Negative")->type,
            static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ini.ReadInteger("Options", "Negative", 0), -5);
  EXPECT_EQ(ini.ReadString("Options", "Negative", ""), "-5") << "a number reads as its decimal text";
  EXPECT_TRUE(ini.ReadBool("Options", "On", false));
  EXPECT_FALSE(ini.ReadBool("Options", "Off", true));
  EXPECT_TRUE(ini.ReadBool("Options", "Missing", true));
  EXPECT_EQ(ini.ReadInteger("Options", "Garbage", 3), 3);
  EXPECT_EQ(ini.ReadInteger("Options", "Blob", 4), 4) << "binary data is no number";
  EXPECT_EQ(ini.ReadString("Options", "Blob", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadBinary("Options", "Blob"), blob);
  EXPECT_TRUE(ini.ValueExists("Options", "NoBytes"));
  EXPECT_TRUE(ini.ReadBinary("Options", "NoBytes").empty());
  EXPECT_TRUE(ini.ReadBinary("Nowhere", "Blob").empty());
}

TEST(RegistryIniFile, ListsErasesAndDeletes) {
  ScratchKey scratch("ini-lists");
  RegistryIniFile ini(scratch.path());
  ini.WriteString("Mail", "Host", "smtp.example");
  ini.WriteInteger("Mail", "Port", 25);
  ini.WriteString("Web", "Url", "https://example");
  ini.WriteString("Web\\Deep", "Level", "2");
  ini.WriteString("", "AtTheTop", "yes");

  StringList list;
  list.SetSorted(true);
  ini.ReadSections(list);
  EXPECT_EQ(list.CommaText(), "Mail,Web");
  ini.ReadSection("Mail", list);
  EXPECT_EQ(list.CommaText(), "Host,Port");
  ini.ReadSectionValues("Mail", list);
  EXPECT_EQ(list.Values("Port"), "25");
  EXPECT_EQ(list.Values("Host"), "smtp.example");
  ini.ReadSection("Nowhere", list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(ini.ReadString("", "AtTheTop", ""), "yes") << "the empty section is the base key";

  ini.DeleteKey("Mail", "Port");
  ini.DeleteKey("Mail", "Port");
  ini.DeleteKey("Nowhere", "Port");
  EXPECT_FALSE(ini.ValueExists("Mail", "Port"));
  EXPECT_TRUE(ini.ValueExists("Mail", "Host"));

  ini.EraseSection("Web");
  EXPECT_FALSE(ini.SectionExists("Web\\Deep"));
  EXPECT_FALSE(ini.SectionExists("Web"));
  EXPECT_TRUE(ini.SectionExists("Mail"));
  ini.EraseSection("Web");  // already gone: silent
  EXPECT_THROW(ini.EraseSection(""), ERegistryException) << "erasing the base key is not a section's business";
}

TEST(RegistryIniFile, WritesThroughAReadOnlyAccessorRaiseTheSystemError) {
  ScratchKey scratch("ini-readonly");
  RegistryIniFile(scratch.path()).WriteString("S", "V", "old");
  RegistryIniFile read_only(scratch.path(), HKEY_CURRENT_USER, KEY_READ);
  EXPECT_EQ(read_only.ReadString("S", "V", ""), "old");
  try {
    read_only.WriteString("S", "V", "new");
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_NE(e.Message().find("RegSetValueExA"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(read_only.ReadString("S", "V", ""), "old");
}

}  // namespace
}  // namespace vellum
