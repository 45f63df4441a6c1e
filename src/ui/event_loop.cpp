#include "ui/event_loop.h"

namespace ui {

void EventLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void EventLoop::startTimer(int periodMs, std::function<void()> onTick) {
  onTick_ = std::move(onTick);
  period_ = std::chrono::milliseconds(periodMs);
  nextTick_ = Clock::now() + period_;
  timerRunning_ = true;
}

void EventLoop::stopTimer() {
  timerRunning_ = false;
  onTick_ = nullptr;
}

void EventLoop::quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
}

void EventLoop::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (quit_) {
      quit_ = false;
      return;
    }
    if (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (timerRunning_ && Clock::now() >= nextTick_) {
      // The next tick is one period after this one ran, as a toolkit's
      // timer does; a slow handler never causes a burst of ticks.
      lock.unlock();
      auto onTick = onTick_;
      onTick();
      if (timerRunning_)
        nextTick_ = Clock::now() + period_;
      lock.lock();
      continue;
    }
    if (timerRunning_)
      wake_.wait_until(lock, nextTick_);
    else
      wake_.wait(lock);
  }
}

} // namespace ui
