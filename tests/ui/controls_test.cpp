#include "ui/controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ProcessBar, ClampsStoredAndShownPositions) {
  struct Case {
    std::int32_t written, stored, shown;
  };
  const Case cases[] = {
      {-5, 0, 0},           {0, 0, 0},       {42, 42, 42},  {100, 100, 100},
      {150, 150, 100},      {32767, 32767, 100}, {32768, 32767, 100},
      {INT32_MIN, 0, 0},    {INT32_MAX, 32767, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.written);
    ui::ProcessBar bar;
    bar.setPosition(c.written);
    EXPECT_EQ(bar.position(), c.stored);
    EXPECT_EQ(bar.shown(), c.shown);
  }
}

std::string changeName(ui::Timer::Change change) {
  switch (change) {
  case ui::Timer::Change::none:
    return "none";
  case ui::Timer::Change::stop:
    return "stop";
  case ui::Timer::Change::start:
    return "start";
  }
  return "?";
}

TEST(Timer, PeriodRules) {
  struct Case {
    const char *name;
    std::vector<std::int32_t> writes;
    std::vector<std::string> changes;
    std::int32_t period;
  };
  const Case cases[] = {
      {"same value twice starts once", {10, 10}, {"start", "none"}, 10},
      {"zero on a stopped timer does nothing", {0}, {"none"}, 0},
      {"negative on a stopped timer does nothing", {-7}, {"none"}, 0},
      {"negative stops a running timer", {10, -1}, {"start", "stop"}, 0},
      {"zero stops a running timer", {10, 0}, {"start", "stop"}, 0},
      {"another value restarts", {10, 20}, {"start", "start"}, 20},
      {"stop then start again", {10, 0, 10}, {"start", "stop", "start"}, 10},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ui::Timer timer;
    std::vector<std::string> changes;
    for (auto value : c.writes)
      changes.push_back(changeName(timer.setPeriod(value)));
    EXPECT_EQ(changes, c.changes);
    EXPECT_EQ(timer.period(), c.period);
    EXPECT_EQ(timer.running(), c.period > 0);
  }
}

} // namespace
