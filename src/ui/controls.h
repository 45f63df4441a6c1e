// The rules of the window's controls, kept apart from any drawing so that
// they hold the same for every backend.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ui {

// Controls of the update window, in the window's order after the window
// itself.
enum class Control { window, ZIP压缩1, 时钟1, 进度条1 };

// Property numbers. 0 to 7 are common to every kind.
inline constexpr int kWindowTitle = 8;
inline constexpr int kBarPosition = 13;
inline constexpr int kTimerPeriod = 8;

// The progress bar: a stored position that the bar shows clamped to its
// range.
class ProcessBar {
public:
  static constexpr std::int32_t kMinimum = 0;
  static constexpr std::int32_t kMaximum = 100;
  static constexpr std::int32_t kLargestStored = 32767;

  void setPosition(std::int32_t value) {
    position_ = std::clamp(value, std::int32_t{0}, kLargestStored);
  }
  std::int32_t position() const { return position_; }
  // What the bar shows.
  std::int32_t shown() const { return std::clamp(position_, kMinimum, kMaximum); }

private:
  std::int32_t position_ = 0;
};

// The timer's period rules: a write of the current period does nothing; any
// other write stops a running timer and, for a period above 0, starts it
// anew; negative periods count as 0.
class Timer {
public:
  enum class Change { none, stop, start };

  // Stores the period and says what must happen to the running timer.
  Change setPeriod(std::int32_t value) {
    value = std::max(value, std::int32_t{0});
    if (value == period_)
      return Change::none;
    const bool wasRunning = period_ > 0;
    period_ = value;
    if (period_ > 0)
      return Change::start;
    return wasRunning ? Change::stop : Change::none;
  }
  std::int32_t period() const { return period_; }
  bool running() const { return period_ > 0; }

private:
  std::int32_t period_ = 0;
};

} // namespace ui
