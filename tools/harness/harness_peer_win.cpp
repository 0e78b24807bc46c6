// The other side of the harness's cross-process test: makes a message-only
// style hidden window, tells the test's window about it, and answers one
// WM_HOTKEY with the same id plus one, then exits.
#include <windows.h>

#include <cstdlib>

namespace {

HWND g_test_window = nullptr;

LRESULT CALLBACK PeerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_HOTKEY) {
    PostMessageA(g_test_window, WM_HOTKEY, wparam + 1, reinterpret_cast<LPARAM>(window));
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // width: the test writes the handle as its whole unsigned value.
  g_test_window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(argv[1], nullptr, 10)));
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = PeerProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "VellumHarnessPeer";
  if (!RegisterClassA(&window_class)) return 3;
  HWND window = CreateWindowExA(0, "VellumHarnessPeer", "peer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  if (window == nullptr) return 4;
  PostMessageA(g_test_window, WM_APP + 1, 0, reinterpret_cast<LPARAM>(window));
  SetTimer(window, 1, 10000, nullptr);  // never outlive a test that stopped answering
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) return 5;
    DispatchMessageA(&message);
  }
  DestroyWindow(window);
  return 0;
}
