#include "ui/icon.h"

#include <gtest/gtest.h>

namespace {

// Alpha of the pixel at fractions (x, y) of the side.
int alphaAt(const std::vector<std::uint8_t> &pixels, int size, double x, double y) {
  const int px = static_cast<int>(x * size), py = static_cast<int>(y * size);
  return pixels[(static_cast<std::size_t>(py) * size + px) * 4 + 3];
}

TEST(Icon, GlobeWithArrowAtLowerRight) {
  for (int size : ui::kIconSizes) {
    SCOPED_TRACE(size);
    const auto pixels = ui::renderIcon(size);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(size) * size * 4);
    EXPECT_EQ(alphaAt(pixels, size, 0.43, 0.43), 255);   // the globe
    EXPECT_EQ(alphaAt(pixels, size, 0.02, 0.98), 0);     // lower left corner clear
    EXPECT_EQ(alphaAt(pixels, size, 0.98, 0.02), 0);     // upper right corner clear
    const auto *arrow = &pixels[(static_cast<std::size_t>(0.6 * size) * size +
                                 static_cast<std::size_t>(0.77 * size)) * 4];
    EXPECT_GT(arrow[1], arrow[2]) << "the arrow is green";
  }
}

} // namespace
