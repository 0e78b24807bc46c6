// Both builds of the DLL registered side by side, as a 64-bit Windows keeps
// them: each regsvr32 writes the class, its desk band category and the
// "Approved" entry into its own registry view (the 32-bit one under
// Wow6432Node), and unregistering one build leaves the other whole, in
// whichever order they came and go. Runs in the 64-bit build only, with the
// 32-bit build's folder named at build time.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "band/band_ids.h"
#include "band/server_dll_test_support_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band {
namespace {

constexpr char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char kDeskBandCategory[] = "Implemented Categories\\{00021492-0000-0000-C000-000000000046}";
const std::string kClassKey = std::string("CLSID\\") + kDeskBandClsid;

enum class Bits { k32, k64 };

REGSAM ViewOf(Bits bits) {
  return bits == Bits::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::string DllOf(Bits bits) {
  if (bits == Bits::k64) return testing::ProductDllPath();
  std::string path = VELLUM_WIN32_BIN_DIR_TEXT "/VellumDeskBand.dll";
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// The system's regsvr32 of that bitness, as a user on 64-bit Windows runs it:
// System32's is the 64-bit one, SysWOW64's the 32-bit one.
std::string Regsvr32Of(Bits bits) {
  char folder[MAX_PATH] = {};
  const UINT length =
      bits == Bits::k64 ? GetSystemDirectoryA(folder, MAX_PATH) : GetSystemWow64DirectoryA(folder, MAX_PATH);
  EXPECT_GT(length, 0u) << "no system folder for that bitness";
  return std::string(folder) + "\\regsvr32.exe";
}

DWORD RunRegsvr32(Bits tool, const std::string& dll, bool unregister) {
  std::string command = "\"" + Regsvr32Of(tool) + "\" /s " + (unregister ? "/u " : "") + "\"" + dll + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command << ": " << GetLastError();
    return ~0u;
  }
  const win::UniqueKernelHandle process_handle(process.hProcess);
  const win::UniqueKernelHandle thread_handle(process.hThread);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0) << command;
  DWORD exit_code = ~0u;
  GetExitCodeProcess(process.hProcess, &exit_code);
  return exit_code;
}

std::string ReadText(HKEY root, Bits view, const std::string& key, const char* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | ViewOf(view), &opened) != ERROR_SUCCESS) return "<missing>";
  const win::UniqueRegKey key_handle(opened);
  char buffer[MAX_PATH * 2] = {};
  DWORD size = sizeof buffer;
  const LSTATUS status = RegGetValueA(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  return status == ERROR_SUCCESS ? std::string(buffer) : std::string("<missing>");
}

bool KeyExists(HKEY root, Bits view, const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | ViewOf(view), &opened) != ERROR_SUCCESS) return false;
  const win::UniqueRegKey key_handle(opened);
  return true;
}

std::string ShortPath(const std::string& path) {
  char short_path[MAX_PATH] = {};
  GetShortPathNameA(path.c_str(), short_path, MAX_PATH);
  return short_path;
}

// What one view holds of the band: the server's path, the category and the
// approval, or nothing of them at all.
void ExpectRegistered(Bits view, const std::string& when) {
  SCOPED_TRACE((view == Bits::k64 ? "64-bit view, " : "32-bit view, ") + when);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, view, kClassKey + "\\InProcServer32", nullptr), ShortPath(DllOf(view)));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, view, kClassKey + "\\InProcServer32", "ThreadingModel"), "Apartment");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, view, kClassKey + "\\" + kDeskBandCategory));
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, view, kApprovedKey, kDeskBandClsid), "Vellum Tessera 7.0");
}

void ExpectUnregistered(Bits view, const std::string& when) {
  SCOPED_TRACE((view == Bits::k64 ? "64-bit view, " : "32-bit view, ") + when);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, view, kClassKey));
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, view, kApprovedKey, kDeskBandClsid), "<missing>");
}

Bits Other(Bits bits) {
  return bits == Bits::k64 ? Bits::k32 : Bits::k64;
}

class RegistryViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetFileAttributesA(DllOf(Bits::k32).c_str()), INVALID_FILE_ATTRIBUTES)
        << "the 32-bit build's DLL is not at " << DllOf(Bits::k32);
  }
  void TearDown() override {
    RunRegsvr32(Bits::k64, DllOf(Bits::k64), true);
    RunRegsvr32(Bits::k32, DllOf(Bits::k32), true);
  }
};

class RegistryViews : public RegistryViewsTest, public ::testing::WithParamInterface<std::pair<Bits, Bits>> {};

TEST_P(RegistryViews, EachBuildRegistersInItsOwnViewAndUnregistersOnlyThere) {
  const auto [first_in, first_out] = GetParam();
  const Bits second_in = Other(first_in);
  const Bits second_out = Other(first_out);

  ASSERT_EQ(RunRegsvr32(first_in, DllOf(first_in), false), 0u);
  ExpectRegistered(first_in, "after the first registration");
  ExpectUnregistered(second_in, "after the first registration");

  ASSERT_EQ(RunRegsvr32(second_in, DllOf(second_in), false), 0u);
  ExpectRegistered(Bits::k64, "with both registered");
  ExpectRegistered(Bits::k32, "with both registered");

  ASSERT_EQ(RunRegsvr32(first_out, DllOf(first_out), true), 0u);
  ExpectUnregistered(first_out, "after the first unregistration");
  ExpectRegistered(second_out, "after the other one's unregistration");

  ASSERT_EQ(RunRegsvr32(second_out, DllOf(second_out), true), 0u);
  ExpectUnregistered(Bits::k64, "after both unregistrations");
  ExpectUnregistered(Bits::k32, "after both unregistrations");
}

INSTANTIATE_TEST_SUITE_P(InAnyOrder, RegistryViews,
                         ::testing::Values(std::pair{Bits::k64, Bits::k64}, std::pair{Bits::k64, Bits::k32},
                                           std::pair{Bits::k32, Bits::k64}, std::pair{Bits::k32, Bits::k32}),
                         [](const auto& info) {
                           const auto name = [](Bits bits) { return bits == Bits::k64 ? "64" : "32"; };
                           return std::string("In") + name(info.param.first) + "FirstOut" + name(info.param.second) +
                                  "First";
                         });

// A user who runs System32's regsvr32 on the 32-bit DLL still gets it
// registered where a 32-bit host looks: regsvr32 hands a DLL of the other
// bitness to its sibling.
TEST_F(RegistryViewsTest, The64BitToolRegistersThe32BitDllInThe32BitView) {
  ASSERT_EQ(RunRegsvr32(Bits::k64, DllOf(Bits::k32), false), 0u);
  ExpectRegistered(Bits::k32, "registered by the 64-bit tool");
  ExpectUnregistered(Bits::k64, "the 32-bit DLL registered by the 64-bit tool");
  ASSERT_EQ(RunRegsvr32(Bits::k64, DllOf(Bits::k32), true), 0u);
  ExpectUnregistered(Bits::k32, "unregistered by the 64-bit tool");
}

}  // namespace
}  // namespace vellum::band
