// The dialog's pictures, drawn here rather than shipped: the error sign
// beside the message ("EL_Error"), the row icons of the list pages
// ("EL_DLL", "EL_BPL", "EL_VCL", "EL_PAS") and the group signs ("EL_PLUS",
// "EL_MINUS"). Each has the transparent colour in its top-left pixel.
#pragma once

#include <windows.h>

#include <string_view>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

using OwnedBitmap = win::UniqueHandle<win::GdiTraits<HBITMAP>>;

inline constexpr COLORREF kBitmapTransparent = RGB(255, 0, 255);

// An empty owner for a name it does not know.
OwnedBitmap CreateDialogBitmap(std::string_view name);

}  // namespace vellum::exceptlog
