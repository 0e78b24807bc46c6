#include "runtime/win/unique_handle_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <utility>

namespace vellum::win {
namespace {

TEST(TypedOwners, AMovedFromOwnerReleasesNothingAndResetDeletesTheObject) {
  const HBRUSH raw = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_NE(raw, nullptr);
  UniqueBrush target;
  {
    UniqueBrush source(raw);
    target = std::move(source);
    EXPECT_FALSE(source.valid());
  }
  EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH)) << "the moved-from owner deleted the brush";
  EXPECT_EQ(target.get(), raw);
  target.reset();
  EXPECT_EQ(GetObjectType(raw), 0u) << "reset left the brush alive";

  UniqueBitmap handed_over(CreateBitmap(4, 4, 1, 1, nullptr));
  const HBITMAP bitmap = handed_over.release();
  handed_over.reset();
  EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP)) << "released means no longer owned";
  DeleteObject(bitmap);
}

TEST(TypedOwners, AssigningAnOwnerDeletesWhatItHeldButMovingOntoItselfKeepsIt) {
  UniquePen first(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
  UniquePen second(CreatePen(PS_DASH, 1, RGB(9, 9, 9)));
  const HPEN first_raw = first.get();
  const HPEN second_raw = second.get();
  first = std::move(second);
  EXPECT_EQ(GetObjectType(first_raw), 0u);
  EXPECT_EQ(GetObjectType(second_raw), static_cast<DWORD>(OBJ_PEN));
  UniquePen& same = first;
  first = std::move(same);
  EXPECT_EQ(first.get(), second_raw);
  EXPECT_EQ(GetObjectType(second_raw), static_cast<DWORD>(OBJ_PEN));
}

TEST(TypedOwners, MenusAndIconsGoWithTheirOwnReleaseCalls) {
  UniqueMenu menu(CreatePopupMenu());
  const HMENU raw_menu = menu.get();
  ASSERT_TRUE(IsMenu(raw_menu));
  menu.reset();
  EXPECT_FALSE(IsMenu(raw_menu));

  // A copy of a shared system icon is ours to destroy; the shared one stays.
  const HICON shared = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  UniqueIcon copy(CopyIcon(shared));
  const HICON raw_copy = copy.get();
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(raw_copy, &info));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  copy.reset();
  EXPECT_FALSE(GetIconInfo(raw_copy, &info));
  ASSERT_TRUE(GetIconInfo(shared, &info));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

}  // namespace
}  // namespace vellum::win
