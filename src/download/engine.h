// The engine's inner working: a task's shared state, its task thread and
// its connection threads. Only download.cpp and the engine itself include
// this header.
#pragma once

#include "download/download.h"
#include "download/parts.h"
#include "download/platform.h"
#include "download/url.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace download::detail {

// The connection's receive buffer: data goes to the file when it is full
// or the part is complete.
inline constexpr std::size_t kBufferSize = 20480;
inline constexpr int kMaxRetries = 999;
inline constexpr int kRetryPauseMs = 5000;

// What the engine keeps of a TaskParam: its own copies, texts included.
struct Config {
  std::int32_t flags = 0;
  Url url;
  std::string urlText;
  std::string savePath;
  std::string userName;
  std::string password;
  int connectionCount = 1;
  std::int32_t speedLimit = 0;
  int connectTimeout = 0;
  int sendTimeout = 0;
  int receiveTimeout = 0;
  int stopWait = 0;
  int receiveBlockSize = 0;
  int sendBlockSize = 0;
  LogCallback logCallback = nullptr;
  EventCallback eventCallback = nullptr;
  std::string altRemoteName;
  std::int32_t transferType = 0;
  std::string binaryExtensions;
  std::optional<Url> proxy; // parsed "host[:port]"; none for a direct connection
  std::string referer;
};

// Builds the engine's copy of `param`; none when the address (or the
// proxy) is not usable.
std::optional<Config> makeConfig(const TaskParam &param);

// What a connection hands to the task thread.
struct Message {
  enum class Kind {
    Event,      // raise `code` with a2, a3, a4
    Log,        // call logCallback with `text` at `level`
    SizeKnown,  // the file exists: raise event 3 and start further connections
    Ended,      // the connection's thread is about to return
  };
  Kind kind = Kind::Event;
  std::int32_t code = 0;
  EventArg a2 = 0;
  EventArg a3 = 0;
  EventArg a4 = 0;
  int connection = 0;
  int level = 0;
  std::string text; // the log text with its time, or the settled path
  std::string time;
};

// One task's state. Shared by the Download object that attached it and by
// the task thread, which keeps it alive after the object is gone, until
// event 4 was raised.
struct Attachment {
  explicit Attachment(Config taskConfig) : config(std::move(taskConfig)) {}

  EventArg handle() const { return reinterpret_cast<EventArg>(this); }

  // Adds a message for the task thread. Urgent messages wake it at once;
  // the others (one per received block) wait for its next round, at most
  // 10 ms later, so that a fast transfer does not wake it per block.
  void post(Message message, bool urgent);

  // Read-only once the task thread started.
  const Config config;

  // Bytes received into parts; connection threads add, the task thread
  // clears it after event 4; any thread reads it without a lock.
  std::atomic<std::int32_t> received{0};
  static_assert(std::atomic<std::int32_t>::is_always_lock_free);
  // Raised by destroy on the caller's thread; every wait looks at it.
  std::atomic<bool> stop{false};
  // Connection threads still running: the task thread counts them up before
  // starting each, the connection counts itself down as its last act.
  std::atomic<int> running{0};
  // Connections in their data loop, for each one's share of the speed limit.
  std::atomic<int> receiving{0};
  // Raised by the task thread once the event-4 callback returned: the task
  // no longer counts as attached.
  std::atomic<bool> ended{false};

  // Created by connection 1 before it posts SizeKnown, written at offsets by
  // every connection afterwards, closed by the task thread once all
  // connections have ended.
  platform::File file;

  // The speed limit's current one-second window, shared by all connections
  // so that together they never receive more than the limit in a second.
  std::mutex limiterMutex;     // guards the two below
  std::int64_t windowStart = 0; // ms on the monotonic clock; 0 before the first block
  std::int64_t windowUsed = 0;  // bytes granted in the current window

  std::mutex mutex;                // guards everything below
  std::condition_variable wakeUp;  // the task thread waits on it
  std::vector<Message> queue;      // connections add, the task thread takes
  bool urgent = false;             // a message that must not wait was added
  bool sizeKnown = false;          // the first reply was read
  std::int64_t length = 0;         // the file's length once known
  std::vector<Part> parts;         // empty until the first reply
  // Once a range request was answered with the whole file, no more ranges
  // are asked for and one connection at a time (the finisher) reads whole
  // files, writing what the parts still lack.
  bool rangesIgnored = false;
  int finisher = 0;
  // A connection reading a reply that started at byte 0 and runs to the
  // end of the file: when ranges turn out to be ignored it simply reads on,
  // so others leave the finishing to it.
  int wholeStreamHolder = 0;
};

// The task thread's entry point: runs the task to its end and raises event
// 4 last. Never throws.
void runTask(std::shared_ptr<Attachment> task) noexcept;

} // namespace download::detail
