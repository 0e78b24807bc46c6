#include "band/published_bar_win.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vellum::band {

namespace {

constexpr char kTesseraKey[] = "Software\\Larchwood\\Vellum7\\Tessera";
constexpr char kFormClass[] = "TVellumForm";

bool HasClass(HWND window, const char* name) {
  char class_name[64] = {};
  return GetClassNameA(window, class_name, sizeof class_name) > 0 && std::strcmp(class_name, name) == 0;
}

}  // namespace

BarHost HostOfBar(HWND bar) {
  // A handle read from the registry may since have been reused by any window.
  if (bar == nullptr || !IsWindow(bar) || !HasClass(bar, kFormClass)) return BarHost::kNone;
  const HWND root = GetAncestor(bar, GA_ROOT);
  return root != nullptr && HasClass(root, kTaskbarPanelClass) ? BarHost::kTaskbarPanel : BarHost::kDeskBand;
}

PublishedBar FindPublishedBar() {
  char text[32] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, kTesseraKey, "BarHandle", RRF_RT_REG_SZ, &type, text, &size) != ERROR_SUCCESS) {
    return {};
  }
  // Published as a signed 32-bit decimal; window handles are 32-bit significant.
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text) return {};
  const HWND bar = reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
  const BarHost host = HostOfBar(bar);
  if (host == BarHost::kNone) return {};
  return {bar, host};
}

}  // namespace vellum::band
