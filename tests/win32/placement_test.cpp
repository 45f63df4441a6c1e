#include "ui/win32/placement.h"

#include <gtest/gtest.h>

namespace {

TEST(Win32Placement, CentresTheOuterRectangleWithTruncation) {
  struct Case {
    int screenWidth, screenHeight;
    int left, top;
  };
  const Case cases[] = {
      {1024, 768, 322, 347},
      {1920, 1080, 770, 503},
      // Odd leftovers are truncated: 643 / 2 and 693 / 2.
      {1023, 767, 321, 346},
      // A screen smaller than the window: toward zero, not toward minus
      // infinity (-79 / 2 is -39).
      {301, 0, -39, -37},
      {380, 74, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.screenWidth << "x" << c.screenHeight);
    const ui::Placement p = ui::startPlacement(c.screenWidth, c.screenHeight);
    EXPECT_EQ(p.left, c.left);
    EXPECT_EQ(p.top, c.top);
    EXPECT_EQ(p.width, 380);
    EXPECT_EQ(p.height, 74);
  }
}

} // namespace
