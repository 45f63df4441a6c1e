#include "download/download.h"

#include "download/engine.h"

#include <thread>

namespace download {

namespace {

// The direction byte of a record that asks for both directions: the engine
// registers such a task and transfers nothing.
constexpr std::int32_t kBothDirections = kFlagDownload | kFlagUpload;

} // namespace

Download::Download() = default;

Download::~Download() { destroy(); }

bool Download::addTask(const TaskParam &param) {
  if (attachment_ && !attachment_->ended.load())
    return false;
  auto config = detail::makeConfig(param);
  if (!config)
    return false;
  auto task = std::make_shared<detail::Attachment>(std::move(*config));
  if ((task->config.flags & kBothDirections) == kBothDirections) {
    attachment_ = std::move(task);
    return true;
  }
  platform::initialiseNetwork();
  try {
    std::thread(detail::runTask, task).detach();
  } catch (...) {
    return false;
  }
  attachment_ = std::move(task);
  return true;
}

std::int32_t Download::receivedLength() const {
  return attachment_ ? attachment_->received.load(std::memory_order_relaxed) : 0;
}

void Download::destroy() {
  if (!attachment_)
    return;
  if (!attachment_->ended.load()) {
    attachment_->stop.store(true);
    const int sleeps = attachment_->config.stopWait / 20;
    for (int i = 0; i < sleeps; ++i) {
      platform::sleepMs(20);
      if (attachment_->running.load() == 0)
        break;
    }
  }
  // The task thread holds its own reference and raises event 4 later.
  attachment_.reset();
}

void initialiseEngine() { platform::initialiseNetwork(); }

void shutdownEngine() { platform::releaseNetwork(); }

} // namespace download
