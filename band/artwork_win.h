// The band's pictures, drawn in code so that the product carries no image
// files: the connect glyph, the about box's logo and the program icon.
#pragma once

#include <windows.h>

#include "runtime/win/unique_handle_win.h"

namespace vellum::band {

// A 16 x 16 glyph whose bottom-left pixel is the transparent colour.
win::UniqueBitmap CreateConnectGlyph();
// A 64 x 64 logo.
win::UniqueBitmap CreateLogoBitmap();
// The program icon at the given size (16, 32, 48 or any other).
win::UniqueIcon CreateProgramIcon(int size);

}  // namespace vellum::band
