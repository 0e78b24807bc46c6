// Plays the user in front of the crash sample's exception dialog, from a
// process of its own in the same Wine session: looks at the compact dialog,
// ticks the copy box, opens the details and visits every page, goes back,
// presses OK, then types the reproduce steps into the request and presses
// OK. Pictures of each state go to the folder given; what it saw goes to
// standard output, one "name: value" line each.
//
//   crash_sample_dialog_driver OUT_FOLDER STEPS_TEXT
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "runtime/gui/testing/window_png_win.h"

namespace {

HWND WaitForWindow(const char* caption, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    const HWND window = FindWindowA(nullptr, caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(50);
  }
  return nullptr;
}

void Picture(HWND window, const std::string& folder, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(300);
  // The dialog belongs to the crash sample's process: it is seen on the screen.
  RECT area{};
  GetWindowRect(window, &area);
  const bool written = vellum::gui::testing::WritePng(vellum::gui::testing::CaptureScreen(area), folder + "\\" + name);
  std::printf("picture: %s %s\n", name.c_str(), written ? "written" : "failed");
}

std::string Text(HWND window) {
  char text[8192] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void Click(HWND dialog, int id) {
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  Sleep(300);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: crash_sample_dialog_driver OUT_FOLDER STEPS_TEXT\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const HWND dialog = WaitForWindow("Error.", 60000);
  if (dialog == nullptr) {
    std::puts("dialog: none");
    return 1;
  }
  Sleep(500);
  std::printf("dialog: shown\n");
  std::printf("message: %s\n", Text(GetDlgItem(dialog, 101)).c_str());
  std::printf("copy box: %s\n", IsWindowVisible(GetDlgItem(dialog, 5000)) ? "visible" : "hidden");
  Picture(dialog, folder, "sample_dialog_compact.png");
  Click(dialog, 5000);

  Click(dialog, 4);
  const HWND tabs = GetDlgItem(dialog, 1000);
  const int pages = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
  std::printf("pages: %d\n", pages);
  for (int page = 0; page < pages; ++page) {
    if (page > 0) {
      // The arrow key moves the selection and tells the dialog, as a click would.
      PostMessageA(tabs, WM_KEYDOWN, VK_RIGHT, 1);
      PostMessageA(tabs, WM_KEYUP, VK_RIGHT, 0xC0000001);
      Sleep(500);
    }
    const HWND page_window = FindWindowExA(tabs, nullptr, nullptr, nullptr);
    const HWND content = GetDlgItem(page_window, 103);
    char class_name[64] = {};
    GetClassNameA(content, class_name, sizeof class_name);
    const bool list = std::string(class_name) == "SysListView32";
    const int rows = list ? static_cast<int>(SendMessageA(content, LVM_GETITEMCOUNT, 0, 0)) : 0;
    std::printf("page %d: %s %s %d\n", page, Text(GetDlgItem(page_window, 102)).c_str(), class_name, rows);
    if (page == 0) {
      const std::string general = Text(content);
      std::printf("general text: %s\n", general.find("Application") != std::string::npos ? "report" : "missing");
    }
    Picture(dialog, folder, "sample_dialog_page" + std::to_string(page) + ".png");
  }
  Click(dialog, 4);
  std::printf("back to compact: %s\n", IsWindowVisible(tabs) ? "no" : "yes");
  Click(dialog, 2);

  const HWND request = WaitForWindow("Request", 20000);
  if (request == nullptr) {
    std::puts("request: none");
    return 1;
  }
  Sleep(300);
  std::printf("request: shown\n");
  SendMessageA(GetDlgItem(request, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
  Picture(request, folder, "sample_request.png");
  Click(request, 2);
  std::printf("done\n");
  return 0;
}
