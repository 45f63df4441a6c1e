// Process services: arguments, memory blocks for records and texts, the exit
// routine, the ending mark and the end of the process.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace process {

// Arguments -----------------------------------------------------------------

// Takes the program's arguments, once, at the start of main. On POSIX they
// are argv[1..]; on Windows the wide command line is split instead and argv
// is not read.
void captureArguments(int argc, char **argv);

// The arguments the program was started with, its own name excluded, in
// UTF-8.
const std::vector<std::string> &commandLineArguments();

// Memory blocks ---------------------------------------------------------------

// Returns an owned, zero-terminated copy of `text`, exactly text.size() + 1
// bytes long. Thread-safe.
char *allocateText(std::string_view text);

// Frees a block from allocateText. Releasing null, or any text this service
// did not allocate (a constant text of the program), does nothing.
void releaseBlock(const void *block);

// How many blocks from allocateText are not yet released. Thread-safe.
std::size_t liveTextCount();

// Exit routine ------------------------------------------------------------------

using ExitRoutine = void (*)();

// Stores `routine` in the exit routine slot, replacing any earlier one. The
// end sequence calls it once, on the window thread, then empties the slot.
void registerExitRoutine(ExitRoutine routine);

// Window thread and end of the process ----------------------------------------

// What the end sequence needs of the windowing toolkit. Implemented by the
// toolkit, which outlives the process's end.
class WindowThread {
public:
  virtual ~WindowThread() = default;
  // Runs `call` on the window thread as soon as that thread next waits for
  // messages, and waits for it. Returns false without running it when the
  // window thread can no longer take calls (its end sequence has begun, or
  // its loop has gone). Called on any thread but the window thread.
  virtual bool handOver(std::function<void()> call) = 0;
  // Drops pending idle work and destroys the windows with their controls.
  // Window thread only.
  virtual void releaseWindows() = 0;
  // Releases the toolkit's own resources, the means of hand-over included;
  // pending and later hand-overs return false. Window thread only.
  virtual void releaseToolkit() = 0;
};

// Records the calling thread as the window thread and the toolkit that
// serves it. Called once, at start-up, before any other thread exists.
void initialise(WindowThread *toolkit);

bool onWindowThread();

// Registers a component's routine that is told the program ends (the
// download engine's global state, for example). They run in order of
// registration during the end sequence, after the exit routine.
void addShutdownRoutine(void (*routine)());

// True once endProcess has been called; it never falls again. While it is
// raised no window or control event reaches a handler.
bool endingMarkRaised();

// True once the window thread has begun the end sequence.
bool endSequenceBegun();

// Ends the process with `code`. On the window thread it runs the end
// sequence: the windows are released, the exit routine runs once, the
// components and the toolkit are released, and the process ends. On any
// other thread the request is handed to the window thread; when the
// hand-over cannot be made because the end sequence already runs, the caller
// waits for that sequence to end the process, and otherwise the process ends
// at once with `code` without the exit routine. Never returns.
[[noreturn]] void endProcess(int code);

// Ends the process at once with `code`, after flushing the standard streams.
// Platform-specific.
[[noreturn]] void terminateProcess(int code);

} // namespace process
