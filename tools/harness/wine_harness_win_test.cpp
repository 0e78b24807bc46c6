// Proves that Windows tests run for real: a window on a real display receives
// its own posted WM_HOTKEY, the registry keeps a value, and a second process
// exchanges posted messages with this one.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "runtime/win/unique_handle_win.h"

namespace {

using vellum::win::UniqueKernelHandle;
using vellum::win::UniqueRegKey;
using vellum::win::UniqueWindow;

struct Received {
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* received = reinterpret_cast<Received*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (received != nullptr && (message == WM_HOTKEY || message == WM_APP + 1)) {
    *received = {message, wparam, lparam};
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

UniqueWindow MakeWindow(Received* sink) {
  static const ATOM atom = [] {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = RecordingProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "VellumHarnessTest";
    return RegisterClassA(&window_class);
  }();
  EXPECT_NE(atom, 0);
  UniqueWindow window(CreateWindowExA(0, "VellumHarnessTest", "harness", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr));
  SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(sink));
  return window;
}

// Pumps messages until `done` or about five seconds have passed.
template <typename Done>
bool PumpUntil(Done done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 5000) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

TEST(WineHarness, WindowReceivesItsOwnPostedHotkey) {
  Received received;
  UniqueWindow window = MakeWindow(&received);
  ASSERT_TRUE(window);
  ShowWindow(window.get(), SW_SHOWNA);
  RECT client{};
  ASSERT_TRUE(GetClientRect(window.get(), &client));
  EXPECT_GT(client.right, 0) << "a real display gives the window a client area";

  ASSERT_TRUE(PostMessageA(window.get(), WM_HOTKEY, 777, MAKELPARAM(40, 30)));
  ASSERT_TRUE(PumpUntil([&] { return received.message == WM_HOTKEY; }));
  EXPECT_EQ(received.wparam, 777u);
  EXPECT_EQ(LOWORD(received.lparam), 40);
  EXPECT_EQ(HIWORD(received.lparam), 30);
}

TEST(WineHarness, RegistryKeepsACurrentUserValue) {
  const char* key_path = "Software\\VellumHarness\\Test";
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  UniqueRegKey key(raw);
  const std::string written = "20261208";
  ASSERT_EQ(RegSetValueExA(key.get(), "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(written.c_str()),
                           static_cast<DWORD>(written.size() + 1)),
            ERROR_SUCCESS);
  key.reset();

  char buffer[64] = {};
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, key_path, "Value", RRF_RT_REG_SZ, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer), written);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, key_path), ERROR_SUCCESS);
  EXPECT_NE(RegGetValueA(HKEY_CURRENT_USER, key_path, "Value", RRF_RT_REG_SZ, nullptr, buffer, &size), ERROR_SUCCESS);
}

TEST(WineHarness, SecondProcessExchangesPostedMessages) {
  Received received;
  UniqueWindow window = MakeWindow(&received);
  ASSERT_TRUE(window);

  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string peer(path);
  peer = peer.substr(0, peer.find_last_of('\\') + 1) + "harness_peer.exe";
  std::string command = "\"" + peer + "\" " + std::to_string(reinterpret_cast<UINT_PTR>(window.get()));

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      << GetLastError();
  UniqueKernelHandle process_handle(process.hProcess);
  UniqueKernelHandle thread_handle(process.hThread);

  ASSERT_TRUE(PumpUntil([&] { return received.message == WM_APP + 1; })) << "peer never announced itself";
  const HWND peer_window = reinterpret_cast<HWND>(received.lparam);
  DWORD peer_process_id = 0;
  GetWindowThreadProcessId(peer_window, &peer_process_id);
  EXPECT_EQ(peer_process_id, process.dwProcessId);
  EXPECT_NE(peer_process_id, GetCurrentProcessId());

  ASSERT_TRUE(PostMessageA(peer_window, WM_HOTKEY, 778, 0));
  ASSERT_TRUE(PumpUntil([&] { return received.message == WM_HOTKEY; })) << "peer never answered";
  EXPECT_EQ(received.wparam, 779u);
  EXPECT_EQ(reinterpret_cast<HWND>(received.lparam), peer_window);

  ASSERT_EQ(WaitForSingleObject(process_handle.get(), 5000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  GetExitCodeProcess(process_handle.get(), &exit_code);
  EXPECT_EQ(exit_code, 0u);
}

}  // namespace
