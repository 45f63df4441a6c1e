// A real nginx on a free loopback port serving one directory, run from a
// generated configuration in a temporary directory of its own, so that it
// needs no system paths and works for root and for a normal user alike.
#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

class NginxServer {
public:
  // Starts /usr/sbin/nginx (or $UPDATER_NGINX) serving `root`. A non-empty
  // `limitRate` (nginx syntax, such as "4m") caps each reply's rate. Check
  // started() before use: starting may fail (nginx missing, no free port
  // after a few tries), and log() then tells why.
  explicit NginxServer(const std::filesystem::path &root, const std::string &limitRate = "");
  // Stops nginx and removes its directory.
  ~NginxServer();
  NginxServer(const NginxServer &) = delete;
  NginxServer &operator=(const NginxServer &) = delete;

  bool started() const { return child_ != nullptr; }
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:port" followed by `path`.
  std::string url(const std::string &path) const;
  // nginx's error log, for failure messages.
  std::string log() const;
  // Stops nginx and waits for it to end. Safe to call twice.
  void stop();

private:
  TempDir dir_{"updater-nginx."};
  std::uint16_t port_ = 0;
  std::unique_ptr<ChildProcess> child_;
};

} // namespace testsupport
