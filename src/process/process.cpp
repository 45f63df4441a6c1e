#include "process/process.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace process {
namespace {

std::vector<std::string> gArguments; // written once at start, then read-only

std::mutex gBlocksMutex;
std::unordered_set<const void *> gBlocks; // guarded by gBlocksMutex

std::atomic<ExitRoutine> gExitRoutine{nullptr};

WindowThread *gToolkit = nullptr; // set once at start-up
std::thread::id gWindowThreadId;   // set once at start-up

std::mutex gShutdownMutex;
std::vector<void (*)()> gShutdownRoutines; // guarded by gShutdownMutex

std::atomic<bool> gEndingMark{false};
std::atomic<bool> gEndSequenceBegun{false};

} // namespace

namespace detail {
void setArguments(std::vector<std::string> arguments) {
  gArguments = std::move(arguments);
}
} // namespace detail

const std::vector<std::string> &commandLineArguments() { return gArguments; }

char *allocateText(std::string_view text) {
  auto *block = static_cast<char *>(std::malloc(text.size() + 1));
  if (!block)
    std::abort();
  if (!text.empty())
    std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  std::lock_guard lock(gBlocksMutex);
  gBlocks.insert(block);
  return block;
}

void releaseBlock(const void *block) {
  if (!block)
    return;
  {
    std::lock_guard lock(gBlocksMutex);
    if (gBlocks.erase(block) == 0)
      return; // Not ours: a constant text of the program.
  }
  std::free(const_cast<void *>(block));
}

std::size_t liveTextCount() {
  std::lock_guard lock(gBlocksMutex);
  return gBlocks.size();
}

void registerExitRoutine(ExitRoutine routine) { gExitRoutine = routine; }

void initialise(WindowThread *toolkit) {
  gToolkit = toolkit;
  gWindowThreadId = std::this_thread::get_id();
}

bool onWindowThread() {
  return std::this_thread::get_id() == gWindowThreadId;
}

void addShutdownRoutine(void (*routine)()) {
  std::lock_guard lock(gShutdownMutex);
  gShutdownRoutines.push_back(routine);
}

bool endingMarkRaised() { return gEndingMark.load(); }

bool endSequenceBegun() { return gEndSequenceBegun.load(); }

void endProcess(int code) {
  gEndingMark = true;

  if (!onWindowThread()) {
    // The window thread runs endProcess itself and ends the process, so a
    // successful hand-over never comes back here.
    if (gToolkit)
      gToolkit->handOver([code] { endProcess(code); });
    // The window thread refused the request. When that is because it is
    // already running the end sequence, it ends the process itself once the
    // exit routine has run; this thread must not cut that short.
    while (gEndSequenceBegun.load())
      std::this_thread::sleep_for(std::chrono::seconds(1));
    terminateProcess(code);
  }

  if (gEndSequenceBegun.exchange(true)) {
    // A request made while the end sequence already runs (from a handler
    // that the sequence itself called) ends the process at once.
    terminateProcess(code);
  }
  if (gToolkit)
    gToolkit->releaseWindows();
  if (ExitRoutine routine = gExitRoutine.exchange(nullptr))
    routine();
  std::vector<void (*)()> routines;
  {
    std::lock_guard lock(gShutdownMutex);
    routines = gShutdownRoutines;
  }
  for (auto *routine : routines)
    routine();
  if (gToolkit)
    gToolkit->releaseToolkit();
  terminateProcess(code);
}

} // namespace process
