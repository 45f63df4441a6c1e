// What the progress display shows: the percentage rules, free of any I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace driver {

inline constexpr std::string_view kDownloadPrefix = "正在下载更新文件：";
inline constexpr std::string_view kInstallPrefix = "正在安装更新文件：";

// received ÷ total × 100 in double arithmetic, each step rounded to a
// double. Before the size is known (total 0) the display shows 0, so the
// result is then 0 rather than a NaN or an infinity.
double downloadPercent(std::int32_t received, double total);

// Rounds to a whole number, halves away from zero, after adding 1e-12 to the
// magnitude so that a product a hair below a half still rounds up. 0, NaN
// and infinities come back unchanged.
double roundPercent(double x);

// The bar's value: the 64-bit truncation of `rounded`, of which the low 32
// bits are taken as a signed integer. Values outside the 64-bit range give
// the most negative 64-bit number, as the processor's conversion does.
std::int32_t barValue(double rounded);

// The titles: the prefix, the number ("%.13g" for the download, "%d" for the
// installation) and "%".
std::string downloadTitle(double rounded);
std::string installTitle(std::int32_t percent);

} // namespace driver
