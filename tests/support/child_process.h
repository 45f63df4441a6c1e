// A child program started by a test, such as a real web server, that is
// always stopped again: by stop(), by the owner's destructor, or by the
// kernel when the test program dies.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
  // Starts `argv` (argv[0] searched in PATH) with standard input from
  // /dev/null and standard output and error appended to `logPath`. Aborts
  // the test program when it cannot fork.
  ChildProcess(const std::vector<std::string> &argv, const std::filesystem::path &logPath);
  // Stops the child as stop() does.
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // True while the child has not ended.
  bool running();
  // Asks the child to end (SIGTERM), waits up to five seconds, then kills it
  // and waits for it. Safe to call twice.
  void stop();
  pid_t pid() const { return pid_; }

private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// A loopback port that was free a moment ago. Another program may take it
// before the caller binds it, so callers check that their server came up.
std::uint16_t pickFreePort();

// Sends "GET path" to 127.0.0.1:port and returns the whole reply (header and
// body) once the server closes; nothing when no connection could be made or
// no reply came within `timeout`.
std::optional<std::string> httpGet(std::uint16_t port, const std::string &path,
                                   std::chrono::milliseconds timeout);

// Sends `request` as it stands to 127.0.0.1:port and returns everything
// received until the server closes; nothing when no connection could be made
// or the server did not close within `timeout`.
std::optional<std::string> exchange(std::uint16_t port, const std::string &request,
                                    std::chrono::milliseconds timeout);

// Retries httpGet every 50 ms until the reply contains `expected`, the child
// ends, or `timeout` passes. True when the expected reply came.
bool waitForReply(ChildProcess &child, std::uint16_t port, const std::string &path,
                  const std::string &expected, std::chrono::milliseconds timeout);

} // namespace testsupport
