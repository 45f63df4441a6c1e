#include "driver/progress.h"

#include <cmath>
#include <cstdio>

namespace driver {

double downloadPercent(std::int32_t received, double total) {
  if (total == 0.0)
    return 0.0;
  const double quotient = static_cast<double>(received) / total;
  return quotient * 100.0;
}

double roundPercent(double x) {
  if (x == 0.0 || std::isnan(x))
    return x;
  const double m = std::fabs(x) + 1e-12;
  double whole = m;
  double fraction = 0.0;
  if (std::isfinite(m)) {
    whole = std::floor(m);
    fraction = m - whole;
  }
  const double magnitude = fraction >= 0.5 ? whole + 1.0 : whole;
  return std::copysign(magnitude, x);
}

std::int32_t barValue(double rounded) {
  constexpr double kLimit = 9223372036854775808.0; // 2^63
  std::int64_t truncated = INT64_MIN;
  if (std::isfinite(rounded) && rounded > -kLimit && rounded < kLimit)
    truncated = static_cast<std::int64_t>(rounded);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(truncated) & 0xFFFFFFFFu));
}

std::string downloadTitle(double rounded) {
  char number[64];
  std::snprintf(number, sizeof number, "%.13g", rounded);
  std::string title(kDownloadPrefix);
  title += number;
  title += '%';
  return title;
}

std::string installTitle(std::int32_t percent) {
  std::string title(kInstallPrefix);
  title += std::to_string(percent);
  title += '%';
  return title;
}

} // namespace driver
