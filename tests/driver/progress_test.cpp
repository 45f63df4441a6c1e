#include "driver/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Progress, DownloadDisplay) {
  struct Case {
    std::int32_t received;
    double total;
    std::int32_t bar;
    const char *title;
  };
  const Case cases[] = {
      {0, 1000, 0, "正在下载更新文件：0%"},
      {124, 1000, 12, "正在下载更新文件：12%"},
      {125, 1000, 13, "正在下载更新文件：13%"},
      {1, 8, 13, "正在下载更新文件：13%"},     // 12.5 rounds away from zero
      {29, 200, 15, "正在下载更新文件：15%"},   // 14.499999999999998
      {1, 3, 33, "正在下载更新文件：33%"},
      {2, 3, 67, "正在下载更新文件：67%"},
      {1000, 1000, 100, "正在下载更新文件：100%"},
      {1005, 1000, 101, "正在下载更新文件：101%"}, // the bar clamps it to 100
      // Before the size is known the display shows 0.
      {0, 0, 0, "正在下载更新文件：0%"},
      {4096, 0, 0, "正在下载更新文件：0%"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.received << " of " << c.total);
    const double rounded =
        driver::roundPercent(driver::downloadPercent(c.received, c.total));
    EXPECT_EQ(driver::barValue(rounded), c.bar);
    EXPECT_EQ(driver::downloadTitle(rounded), c.title);
  }
}

TEST(Progress, RoundingRule) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double x, rounded;
  };
  const Case cases[] = {
      {0.0, 0.0},   {12.5, 13.0}, {-12.5, -13.0}, {12.4999, 12.0},
      {14.499999999999998, 15.0}, {99.5, 100.0},  {-0.4, -0.0},
      {inf, inf},   {-inf, -inf},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(driver::roundPercent(c.x), c.rounded);
    EXPECT_EQ(std::signbit(driver::roundPercent(c.x)), std::signbit(c.rounded));
  }
  EXPECT_TRUE(std::isnan(driver::roundPercent(std::nan(""))));
  // Conversions the processor cannot make give the most negative 64-bit
  // number, whose low 32 bits are 0.
  EXPECT_EQ(driver::barValue(std::nan("")), 0);
  EXPECT_EQ(driver::barValue(inf), 0);
  EXPECT_EQ(driver::barValue(4294967296.0 + 7), 7); // low 32 bits
  EXPECT_EQ(driver::barValue(-3.0), -3);
}

TEST(Progress, InstallDisplay) {
  for (int percent : {0, 25, 50, 75, 100, -1}) {
    SCOPED_TRACE(percent);
    EXPECT_EQ(driver::installTitle(percent),
              "正在安装更新文件：" + std::to_string(percent) + "%");
  }
}

} // namespace
