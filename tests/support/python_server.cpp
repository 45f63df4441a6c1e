#include "support/python_server.h"

#include <cstdlib>
#include <unistd.h>

namespace testsupport {

namespace {

std::string pythonProgram() {
  const char *custom = std::getenv("UPDATER_PYTHON");
  if (custom && *custom)
    return custom;
  return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

} // namespace

PythonServer::PythonServer(const std::filesystem::path &root) {
  const std::string program = pythonProgram();
  // Python's server names itself in every reply, which tells it apart from
  // most other programs that might have taken the port first.
  for (int attempt = 0; attempt < 5 && !child_; ++attempt) {
    port_ = pickFreePort();
    auto child = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "-m", "http.server", "--bind", "127.0.0.1",
                                 "--directory", root.string(), std::to_string(port_)},
        dir_ / "output.log");
    if (waitForReply(*child, port_, "/", "SimpleHTTP", std::chrono::seconds(15)))
      child_ = std::move(child);
  }
}

PythonServer::~PythonServer() { stop(); }

std::string PythonServer::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string PythonServer::log() const { return readFile(dir_ / "output.log"); }

void PythonServer::stop() {
  if (child_)
    child_->stop();
}

} // namespace testsupport
