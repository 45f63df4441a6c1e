// Runs one download task through the engine's public interface and records
// every event and status text it raises, with the thread each came on.
#pragma once

#include "download/download.h"
#include "download/task_param.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

using download::EventArg;
using Clock = std::chrono::steady_clock;

struct Event {
  std::int32_t code = 0;
  EventArg a2 = 0;
  EventArg a3 = 0;
  EventArg a4 = 0;
  EventArg a5 = 0;
  std::string path; // event 3's a4, copied while the callback ran
  std::thread::id thread;
  Clock::time_point at;
};

struct LogLine {
  EventArg connection = 0;
  std::string time;
  std::string status;
  EventArg level = 0;
  EventArg task = 0;
  std::thread::id thread;
};

// One task and its recorded events. The engine's callbacks carry no user
// pointer, so one run at a time is current and receives them; the
// destructor stops the task and waits for event 4 before it lets go, so
// that no callback reaches a run that is gone.
class EngineRun {
public:
  // A record with the defaults, the event and log callbacks set to this
  // run, and time-outs short enough for tests.
  EngineRun();
  ~EngineRun();
  EngineRun(const EngineRun &) = delete;
  EngineRun &operator=(const EngineRun &) = delete;

  // The record handed to addTask; set its members before start().
  download::TaskParam &param() { return *param_; }
  void setUrl(const std::string &url) { download::setText(param_->url, url); }
  void setSavePath(const std::string &path) { download::setText(param_->savePath, path); }

  // Answers event 18; runs on the connection's thread. The default answers 1.
  std::function<std::int32_t(const Event &)> onFileExists;

  // Adds the task; the result of addTask.
  bool start();
  download::Download &download() { return download_; }

  // Waits for event 4; false on time-out.
  bool waitFinished(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Waits until an event with `code` has been recorded; false on time-out.
  bool waitFor(std::int32_t code, std::chrono::milliseconds timeout);

  std::vector<Event> events() const;
  std::vector<Event> events(std::int32_t code) const;
  std::vector<std::int32_t> codes() const;
  std::vector<LogLine> logs() const;
  // The event 4 (the last event when the task finished); aborts the test
  // program if there is none, so call waitFinished first.
  Event finished() const;
  // Codes in order as one text, such as "5 3 6 16 8 4", for messages.
  std::string describe() const;

  static std::int32_t eventCallback(EventArg code, EventArg a2, EventArg a3, EventArg a4,
                                    EventArg a5);
  static std::int32_t logCallback(EventArg connection, const char *time, const char *status,
                                  EventArg level, EventArg task);

private:
  download::TaskParam *param_;
  bool started_ = false;
  download::Download download_;
  mutable std::mutex mutex_; // guards the records below
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
  std::vector<LogLine> logs_;
};

// A file split as the engine splits it: `count` parts of size / count bytes,
// the last taking the remainder.
struct Part {
  std::int64_t start;
  std::int64_t end; // one past the last byte
};
std::vector<Part> splitParts(std::int64_t size, int count);

} // namespace enginetest
