#include "engine/engine_harness.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace enginetest {

namespace {

std::mutex currentMutex;         // guards current
EngineRun *current = nullptr;    // the run that receives callbacks

} // namespace

EngineRun::EngineRun() : param_(download::createTaskParam()) {
  {
    std::lock_guard lock(currentMutex);
    if (current) {
      std::fputs("two engine runs at once\n", stderr);
      std::abort();
    }
    current = this;
  }
  param_->eventCallback = &EngineRun::eventCallback;
  param_->logCallback = &EngineRun::logCallback;
  param_->connectTimeout = 5000;
  param_->sendTimeout = 5000;
  param_->receiveTimeout = 10000;
}

EngineRun::~EngineRun() {
  download_.destroy();
  // An upload raises no event at all, so only a download is waited for.
  if (started_ && !(param_->flags & download::kFlagUpload))
    waitFinished(std::chrono::seconds(30));
  {
    std::lock_guard lock(currentMutex);
    current = nullptr;
  }
  download::releaseTaskParam(param_);
}

bool EngineRun::start() {
  const bool added = download_.addTask(*param_);
  started_ = started_ || added;
  return added;
}

bool EngineRun::waitFinished(std::chrono::milliseconds timeout) {
  return waitFor(download::kEventFinished, timeout);
}

bool EngineRun::waitFor(std::int32_t code, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const Event &event : events_)
      if (event.code == code)
        return true;
    return false;
  });
}

std::vector<Event> EngineRun::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<Event> EngineRun::events(std::int32_t code) const {
  std::vector<Event> matching;
  for (const Event &event : events())
    if (event.code == code)
      matching.push_back(event);
  return matching;
}

std::vector<std::int32_t> EngineRun::codes() const {
  std::vector<std::int32_t> codes;
  for (const Event &event : events())
    codes.push_back(event.code);
  return codes;
}

std::vector<LogLine> EngineRun::logs() const {
  std::lock_guard lock(mutex_);
  return logs_;
}

Event EngineRun::finished() const {
  for (const Event &event : events())
    if (event.code == download::kEventFinished)
      return event;
  std::fputs("no event 4 was recorded\n", stderr);
  std::abort();
}

std::string EngineRun::describe() const {
  std::ostringstream out;
  for (const Event &event : events())
    out << event.code << "(" << event.a2 << "," << event.a3 << ") ";
  return out.str();
}

std::int32_t EngineRun::eventCallback(EventArg code, EventArg a2, EventArg a3, EventArg a4,
                                      EventArg a5) {
  Event event{static_cast<std::int32_t>(code), a2, a3, a4, a5, {}, std::this_thread::get_id(),
              Clock::now()};
  if (code == download::kEventSizeKnown && a4 != 0)
    event.path = reinterpret_cast<const char *>(a4);
  std::lock_guard currentLock(currentMutex);
  if (!current)
    return 0;
  std::int32_t answer = 0;
  if (code == download::kEventFileExists)
    answer = current->onFileExists ? current->onFileExists(event) : 1;
  {
    std::lock_guard lock(current->mutex_);
    current->events_.push_back(std::move(event));
  }
  current->changed_.notify_all();
  return answer;
}

std::int32_t EngineRun::logCallback(EventArg connection, const char *time, const char *status,
                                    EventArg level, EventArg task) {
  LogLine line{connection, time ? time : "", status ? status : "", level, task,
               std::this_thread::get_id()};
  std::lock_guard currentLock(currentMutex);
  if (current) {
    std::lock_guard lock(current->mutex_);
    current->logs_.push_back(std::move(line));
  }
  return 0;
}

std::vector<Part> splitParts(std::int64_t size, int count) {
  if (size < 20480 || count < 1)
    count = 1;
  std::vector<Part> parts;
  const std::int64_t each = size / count;
  for (int i = 0; i < count; ++i)
    parts.push_back({i * each, i == count - 1 ? size : (i + 1) * each});
  return parts;
}

} // namespace enginetest
