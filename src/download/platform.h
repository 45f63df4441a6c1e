// The engine's view of the operating system: sockets, files, the clock and
// sleeping. Each platform implements it in its own folder (posix/ now);
// the rest of the engine includes nothing platform-specific. Every wait
// here is cut into slices of at most 10 ms so that a raised stop flag ends
// it quickly.
#pragma once

#include "download/file_name.h"
#include "download/result.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download::platform {

// A socket or file descriptor, wide enough for a Windows SOCKET or HANDLE.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

// Owns one connected socket; closes it when destroyed.
class Socket {
public:
  Socket() = default;
  explicit Socket(NativeHandle handle) : handle_(handle) {}
  ~Socket() { close(); }
  Socket(Socket &&other) noexcept : handle_(other.handle_) {
    other.handle_ = kInvalidHandle;
  }
  Socket &operator=(Socket &&other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = kInvalidHandle;
    }
    return *this;
  }
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  bool valid() const { return handle_ != kInvalidHandle; }
  NativeHandle native() const { return handle_; }
  void close();

private:
  NativeHandle handle_ = kInvalidHandle;
};

// Owns one open file; closes it when destroyed.
class File {
public:
  File() = default;
  explicit File(NativeHandle handle) : handle_(handle) {}
  ~File() { close(); }
  File(File &&other) noexcept : handle_(other.handle_) {
    other.handle_ = kInvalidHandle;
  }
  File &operator=(File &&other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = kInvalidHandle;
    }
    return *this;
  }
  File(const File &) = delete;
  File &operator=(const File &) = delete;

  bool valid() const { return handle_ != kInvalidHandle; }
  void close();

  // Writes all `size` bytes at `offset`. Safe to call from several threads
  // at once on different ranges.
  Status writeAt(const char *data, std::size_t size, std::int64_t offset) const;

private:
  NativeHandle handle_ = kInvalidHandle;
};

// Resolves `host` and connects to `port`, giving up after `timeoutMs`
// counted in steps of 10 ms (at least one step), or at once when `stop`
// is raised. The socket is ready for sendAll and receiveSome.
Result<Socket> connectTo(const std::string &host, std::uint16_t port, int timeoutMs,
                         const std::atomic<bool> &stop);

// Sends all of `data`, failing when the socket accepts nothing for
// `timeoutMs` (0 or less: no limit) or when `stop` is raised.
Status sendAll(Socket &socket, std::string_view data, int timeoutMs,
               const std::atomic<bool> &stop);

enum class ReceiveMode {
  Take, // the bytes are removed from the socket
  Peek, // the bytes stay in the socket for the next receive
};

// Receives at most `size` bytes into `buffer`; returns how many, 0 when the
// peer closed the connection. Fails after `silenceMs` without any byte (0
// or less: no limit) or when `stop` is raised.
Result<std::size_t> receiveSome(Socket &socket, char *buffer, std::size_t size,
                                int silenceMs, const std::atomic<bool> &stop,
                                ReceiveMode mode = ReceiveMode::Take);

// Creates `path` as a new file of `length` bytes, all zero; fails if any
// file of that name exists.
Result<File> createNewFile(const std::string &path, std::int64_t length);

// The size of the file at `path`, or none when there is no such file.
std::optional<std::int64_t> existingFileSize(const std::string &path);

// Milliseconds from an arbitrary start, never going back.
std::int64_t monotonicMs();

// Sleeps `ms` in slices of at most 10 ms; false when `stop` cut it short.
bool sleepUnlessStopped(std::int64_t ms, const std::atomic<bool> &stop);

// Sleeps `ms` without looking at any flag.
void sleepMs(int ms);

// The local date and time as "YYYY-MM-DD HH:MM:SS".
std::string localTimeText();

// How this platform writes paths.
PathStyle pathStyle();

// Sets up and releases the process's network library; both may be called
// more than once.
void initialiseNetwork();
void releaseNetwork();

} // namespace download::platform
