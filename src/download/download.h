// The download engine's object: at most one task, run on the engine's own
// threads.
#pragma once

#include "download/task_param.h"

#include <cstdint>
#include <memory>

namespace download {

namespace detail {
struct Attachment;
}

// Event codes raised through TaskParam::eventCallback.
enum EventCode : std::int32_t {
  kEventSizeKnown = 3,
  kEventFinished = 4,
  kEventConnectionStarted = 5,
  kEventPartBegun = 6,
  kEventPartTakenOver = 7,
  kEventConnectionEnded = 8,
  kEventConnectionFailed = 9,
  kEventBlockReceived = 16,
  kEventFileExists = 18,
};

class Download {
public:
  // Creates the object with no task attached.
  Download();
  // Destroys the object as destroy() does.
  ~Download();
  Download(const Download &) = delete;
  Download &operator=(const Download &) = delete;

  // Copies `param`, texts included, validates its address, registers the
  // task and starts its thread. Returns false, and never raises an event,
  // when a task is already attached, the address is refused or the thread
  // cannot start. Any thread.
  bool addTask(const TaskParam &param);

  // Bytes received so far by all the task's connections; 0 when no task is
  // attached. Any thread, without a lock.
  std::int32_t receivedLength() const;

  // With no task attached, does nothing. Otherwise tells every connection
  // to stop, waits at most stopWait / 20 sleeps of 20 ms for them, ending
  // as soon as none runs, and detaches the task. Does not wait for the
  // task's thread, which still raises event 4 afterwards.
  void destroy();

private:
  // The attached task, or none. Used only on the thread that calls the
  // object's operations (the window thread in the program); the task
  // thread holds its own reference, so the task's state outlives the
  // object until event 4 has been raised.
  std::shared_ptr<detail::Attachment> attachment_;
};

// Prepares the engine's global state (the network library); called once, by
// the program's start-up.
void initialiseEngine();

// Tells the engine the program ends: it releases its global state. Called
// once, by the end sequence.
void shutdownEngine();

} // namespace download
