// Python's `http.server` on a free loopback port serving one directory: a
// real server that ignores Range and always answers with the whole file.
#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

class PythonServer {
public:
  // Starts `python3 -m http.server` (the system's /usr/bin/python3 when
  // present, or $UPDATER_PYTHON) serving `root`. Check started() before
  // use; log() tells why it failed.
  explicit PythonServer(const std::filesystem::path &root);
  // Stops the server.
  ~PythonServer();
  PythonServer(const PythonServer &) = delete;
  PythonServer &operator=(const PythonServer &) = delete;

  bool started() const { return child_ != nullptr; }
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:port" followed by `path`.
  std::string url(const std::string &path) const;
  // The server's output, for failure messages.
  std::string log() const;
  // Stops the server and waits for it to end. Safe to call twice.
  void stop();

private:
  TempDir dir_{"updater-python."};
  std::uint16_t port_ = 0;
  std::unique_ptr<ChildProcess> child_;
};

} // namespace testsupport
