// A small portable message loop with one repeating timer, for the backends
// that have no toolkit of their own (the terminal and the recording one).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace ui {

class EventLoop {
public:
  using Clock = std::chrono::steady_clock;

  // Queues `task` for the loop's thread. Any thread.
  void post(std::function<void()> task);

  // Starts the timer anew: `onTick` runs on the loop's thread every
  // `periodMs`, the first time one period from now. Loop thread.
  void startTimer(int periodMs, std::function<void()> onTick);
  void stopTimer();

  // Runs queued tasks and ticks until quit() is called. Loop thread.
  void run();
  // Makes run() return after the current task. Any thread.
  void quit();

private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_; // guarded by mutex_
  bool quit_ = false;                       // guarded by mutex_
  // Loop-thread state.
  std::function<void()> onTick_;
  std::chrono::milliseconds period_{0};
  Clock::time_point nextTick_{};
  bool timerRunning_ = false;
};

} // namespace ui
