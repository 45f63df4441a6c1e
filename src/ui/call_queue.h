// Calls handed to the window thread by other threads, each waited for.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace ui {

class CallQueue {
public:
  // `wake` makes the window thread call runPending() soon; it is called on
  // the handing thread, with no lock held.
  explicit CallQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

  // Queues `call` for the window thread and waits until it has run. Returns
  // false, without running it, once the queue is closed. Any thread but the
  // window thread.
  bool callAndWait(std::function<void()> call);

  // Runs every queued call. Window thread.
  void runPending();

  // Fails every waiting and later call. Window thread.
  void close();

private:
  struct Call {
    std::function<void()> function;
    bool finished = false;
    bool ran = false;
  };

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Call>> queue_; // guarded by mutex_
  bool closed_ = false;                     // guarded by mutex_
};

} // namespace ui
