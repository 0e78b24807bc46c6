#include "runtime/win/gdi_win.h"

#include <gtest/gtest.h>

#include "runtime/win/unique_handle_win.h"

namespace vellum::win {
namespace {

TEST(SelectedObject, PutsThePreviousObjectBackAndANullObjectSelectsNothing) {
  const MemoryDC dc(nullptr);
  const HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_BRUSH);
  const UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
  {
    const SelectedObject selected(dc.get(), brush.get());
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BRUSH), brush.get());
    { const SelectedObject nothing(dc.get(), nullptr); }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BRUSH), brush.get()) << "a null object must not restore anything";
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BRUSH), before);
}

}  // namespace
}  // namespace vellum::win
