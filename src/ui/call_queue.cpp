#include "ui/call_queue.h"

namespace ui {

bool CallQueue::callAndWait(std::function<void()> function) {
  auto call = std::make_shared<Call>();
  call->function = std::move(function);
  {
    std::lock_guard lock(mutex_);
    if (closed_)
      return false;
    queue_.push_back(call);
  }
  wake_();
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return call->finished; });
  return call->ran;
}

void CallQueue::runPending() {
  for (;;) {
    std::shared_ptr<Call> call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty() || closed_)
        return;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    // The call may end the process (an end request); its waiter then never
    // resumes, which is what the end request asks for.
    call->function();
    {
      std::lock_guard lock(mutex_);
      call->finished = true;
      call->ran = true;
    }
    finished_.notify_all();
  }
}

void CallQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (auto &call : queue_)
      call->finished = true;
    queue_.clear();
  }
  finished_.notify_all();
}

} // namespace ui
