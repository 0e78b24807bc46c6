#include "band/panel/panel_layout.h"

#include <gtest/gtest.h>

namespace vellum::band {
namespace {

// A 1920 x 1080 screen with a 48-pixel taskbar and a 200-pixel notification area.
constexpr ScreenRect kBottomBar{0, 1032, 1920, 1080};
constexpr ScreenRect kBottomNotify{1720, 1032, 1920, 1080};
constexpr PanelRequest kRequest{270, 185};

TEST(PanelLayout, SitsLeftOfTheNotificationAreaAsTallAsTheTaskbar) {
  const ScreenRect panel = PlacePanel({kBottomBar, kBottomNotify, 96}, kRequest);
  EXPECT_EQ(panel, (ScreenRect{1450, 1032, 1720, 1080}));
  // A taskbar at the top edge is the same shape higher up.
  EXPECT_EQ(PlacePanel({{0, 0, 1920, 48}, ScreenRect{1720, 0, 1920, 48}, 96}, kRequest),
            (ScreenRect{1450, 0, 1720, 48}));
  // No notification area found: the far end of the taskbar.
  EXPECT_EQ(PlacePanel({kBottomBar, std::nullopt, 96}, kRequest), (ScreenRect{1650, 1032, 1920, 1080}));
}

TEST(PanelLayout, FollowsDpiAndStaysInsideTheTaskbar) {
  // 144 DPI: 270 becomes 405.
  EXPECT_EQ(PlacePanel({kBottomBar, kBottomNotify, 144}, kRequest).Width(), 405);
  EXPECT_EQ(ScaleForDpi(270, 120), 338);  // 337.5 rounds up
  EXPECT_EQ(ScaleForDpi(270, 0), 270) << "an unknown DPI is the default one";
  // A short taskbar leaves less room than asked: the panel takes what is free.
  const ScreenRect panel = PlacePanel({{100, 1032, 400, 1080}, ScreenRect{300, 1032, 400, 1080}, 96}, kRequest);
  EXPECT_EQ(panel, (ScreenRect{100, 1032, 300, 1080}));
  // No room at all, or no taskbar: nothing to show.
  EXPECT_TRUE(PlacePanel({{0, 1032, 200, 1080}, ScreenRect{0, 1032, 200, 1080}, 96}, kRequest).Empty());
  EXPECT_TRUE(PlacePanel({{}, std::nullopt, 96}, kRequest).Empty());
  // A notification area reported outside the taskbar is cut to it.
  EXPECT_EQ(PlacePanel({kBottomBar, ScreenRect{1720, 1032, 2400, 1080}, 96}, kRequest).right, 1720);
}

TEST(PanelLayout, VerticalTaskbarsStackItAboveTheNotificationArea) {
  const ScreenRect bar{1840, 0, 1920, 1080};
  const ScreenRect panel = PlacePanel({bar, ScreenRect{1840, 880, 1920, 1080}, 96}, kRequest);
  EXPECT_EQ(panel, (ScreenRect{1840, 695, 1920, 880}));
  EXPECT_EQ(PlacePanel({{0, 0, 80, 1080}, std::nullopt, 96}, kRequest), (ScreenRect{0, 895, 80, 1080}));
}

TEST(PanelLayout, ARightToLeftTaskbarPutsItRightOfTheNotificationArea) {
  const ScreenRect panel = PlacePanel({kBottomBar, ScreenRect{0, 1032, 200, 1080}, 96}, kRequest);
  EXPECT_EQ(panel, (ScreenRect{200, 1032, 470, 1080}));
}

}  // namespace
}  // namespace vellum::band
