#include "runtime/registry/registry_key_win.h"

#include <gtest/gtest.h>

#include "runtime/registry/registry_test_key_win.h"

namespace vellum {
namespace {

using testing::ScratchKey;
using Bytes = std::vector<std::uint8_t>;

// What the system itself reports for a value, bypassing the class.
RegistryKey::ValueInfo RawInfo(const std::string& path, const char* name) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegistryKey::ValueInfo info;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &info.type, nullptr, &info.size), ERROR_SUCCESS);
  RegCloseKey(key);
  return info;
}

TEST(RegistryKey, WritesValuesWithTheSystemTypesAndReadsThemBack) {
  ScratchKey scratch("key-values");
  bool created = false;
  RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, scratch.path() + "\\CLSID\\{X}\\InProcServer32\\",
                                        KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &created);
  EXPECT_TRUE(created);
  key.WriteString("", "C:\\PROGRA~1\\band.dll");
  key.WriteString("ThreadingModel", "Apartment");
  key.WriteString("Empty", "");
  key.WriteString("Ansi",
                  "Gr\xFC\xDF"
                  "e");
  key.WriteDword("Number", 0xFFFFFFFEu);
  key.WriteBinary("Blob", Bytes{0, 1, 2, 255});

  const std::string path = scratch.path() + "\\CLSID\\{X}\\InProcServer32";
  EXPECT_EQ(RawInfo(path, "ThreadingModel").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RawInfo(path, "ThreadingModel").size, 10u) << "the text and its terminating zero";
  EXPECT_EQ(RawInfo(path, "Empty").size, 1u) << "an empty text is one zero byte, not absent";
  EXPECT_EQ(RawInfo(path, "Number").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(RawInfo(path, "Blob").type, static_cast<DWORD>(REG_BINARY));

  created = true;
  const RegistryKey same = RegistryKey::Create(HKEY_CURRENT_USER, "\\" + path + "\\\\", KEY_READ, &created);
  EXPECT_FALSE(created) << "stray backslashes name the same key";
  EXPECT_EQ(same.ReadString(""), "C:\\PROGRA~1\\band.dll");
  EXPECT_EQ(same.ReadString("Empty"), "");
  EXPECT_EQ(same.ReadString("Ansi"),
            "Gr\xFC\xDF"
            "e");
  EXPECT_EQ(same.ReadDword("Number"), 0xFFFFFFFEu);
  EXPECT_EQ(same.ReadBinary("Blob"), (Bytes{0, 1, 2, 255}));
  EXPECT_EQ(same.ReadBinary("ThreadingModel"), (Bytes{'A', 'p', 'a', 'r', 't', 'm', 'e', 'n', 't', 0}));
  EXPECT_FALSE(same.ReadString("Missing").has_value());
  EXPECT_FALSE(same.ReadDword("Missing").has_value());
  EXPECT_THROW(same.ReadString("Number"), ERegistryException);
  EXPECT_THROW(same.ReadDword("Blob"), ERegistryException);

  // Another program may store a text without its terminating zero.
  RegSetValueExA(key.get(), "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  EXPECT_EQ(same.ReadString("Bare"), "abc");

  std::vector<std::string> names = same.ValueNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"", "Ansi", "Bare", "Blob", "Empty", "Number", "ThreadingModel"}));
}

TEST(RegistryKey, DeletesValuesAndWholeTreesQuietlyWhenAbsent) {
  ScratchKey scratch("key-delete");
  const std::string root = scratch.path() + "\\Root";
  for (const char* child : {"\\A\\A1\\A11", "\\A\\A2", "\\B"}) {
    RegistryKey::Create(HKEY_CURRENT_USER, root + child, KEY_ALL_ACCESS).WriteString("v", "x");
  }
  RegistryKey top = RegistryKey::Open(HKEY_CURRENT_USER, root, KEY_ALL_ACCESS);
  std::vector<std::string> children = top.SubKeyNames();
  std::sort(children.begin(), children.end());
  EXPECT_EQ(children, (std::vector<std::string>{"A", "B"}));
  top.Close();

  EXPECT_TRUE(RegistryKey::DeleteValue(HKEY_CURRENT_USER, root + "\\B", "v"));
  EXPECT_FALSE(RegistryKey::DeleteValue(HKEY_CURRENT_USER, root + "\\B", "v"));
  EXPECT_FALSE(RegistryKey::DeleteValue(HKEY_CURRENT_USER, root + "\\Nowhere", "v"));

  EXPECT_TRUE(RegistryKey::DeleteTree(HKEY_CURRENT_USER, root + "\\"));
  EXPECT_FALSE(RegistryKey::Exists(HKEY_CURRENT_USER, root));
  EXPECT_TRUE(RegistryKey::Exists(HKEY_CURRENT_USER, scratch.path())) << "only the named tree goes";
  EXPECT_FALSE(RegistryKey::DeleteTree(HKEY_CURRENT_USER, root)) << "deleting twice is silent";
  EXPECT_THROW(RegistryKey::DeleteTree(HKEY_CURRENT_USER, "\\"), ERegistryException);
}

TEST(RegistryKey, FailuresNameTheCallTheKeyAndTheSystemText) {
  ScratchKey scratch("key-errors");
  try {
    RegistryKey::Open(HKEY_CURRENT_USER, scratch.path() + "\\Missing", KEY_READ);
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    const std::string message = e.Message();
    EXPECT_EQ(message.rfind("RegOpenKeyExA(HKEY_CURRENT_USER\\" + scratch.path() + "\\Missing) failed: ", 0), 0u)
        << message;
    EXPECT_NE(message.find("(2)"), std::string::npos) << message;
  }
  EXPECT_FALSE(RegistryKey::OpenIfExists(HKEY_CURRENT_USER, scratch.path() + "\\Missing", KEY_READ).IsOpen());

  RegistryKey::Create(HKEY_CURRENT_USER, scratch.path(), KEY_ALL_ACCESS);
  RegistryKey read_only = RegistryKey::Open(HKEY_CURRENT_USER, scratch.path(), KEY_READ);
  try {
    read_only.WriteString("Name", "value");
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_NE(e.Message().find("RegSetValueExA("), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("\"Name\""), std::string::npos) << e.Message();
  }
  RegistryKey closed;
  EXPECT_THROW(closed.ReadString("x"), ERegistryException);
}

TEST(RegistryKey, NormalizeKeyPath) {
  EXPECT_EQ(NormalizeKeyPath("Software\\Larchwood\\Vellum7\\"), "Software\\Larchwood\\Vellum7");
  EXPECT_EQ(NormalizeKeyPath("\\\\a\\\\b\\"), "a\\b");
  EXPECT_EQ(NormalizeKeyPath("\\"), "");
}

}  // namespace
}  // namespace vellum
