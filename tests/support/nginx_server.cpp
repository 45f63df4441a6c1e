#include "support/nginx_server.h"

#include <cstdlib>
#include <random>
#include <thread>

namespace testsupport {

namespace {

std::string nginxProgram() {
  const char *custom = std::getenv("UPDATER_NGINX");
  return custom && *custom ? custom : "/usr/sbin/nginx";
}

// Some builds of nginx leave out the modules whose temporary paths the
// configuration would otherwise move; naming a missing module's directive is
// an error, so each is set only when the module is there.
std::string temporaryPaths(const std::string &program, const TempDir &dir) {
  const auto versionLog = dir / "version.txt";
  {
    ChildProcess version({program, "-V"}, versionLog);
    for (int i = 0; i < 250 && version.running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string built = readFile(versionLog);
  std::string lines = "  client_body_temp_path " + (dir / "client_body").string() + ";\n";
  for (const char *module : {"proxy", "fastcgi", "uwsgi", "scgi"}) {
    if (built.find(std::string("--without-http_") + module + "_module") != std::string::npos)
      continue;
    lines += std::string("  ") + module + "_temp_path " + (dir / module).string() + ";\n";
  }
  return lines;
}

} // namespace

NginxServer::NginxServer(const std::filesystem::path &root, const std::string &limitRate) {
  const std::string program = nginxProgram();
  const std::string paths = temporaryPaths(program, dir_);
  // A token only this instance serves tells our nginx apart from any other
  // program that might have taken the port first.
  const std::string token = "ready-" + std::to_string(std::random_device{}());
  for (int attempt = 0; attempt < 5 && !child_; ++attempt) {
    port_ = pickFreePort();
    const std::string config =
        "daemon off;\n"
        "master_process off;\n"
        "worker_processes 1;\n"
        "pid " + (dir_ / "nginx.pid").string() + ";\n"
        "error_log " + (dir_ / "error.log").string() + " warn;\n"
        "events { worker_connections 512; }\n"
        "http {\n"
        "  access_log off;\n" +
        paths +
        "  default_type application/octet-stream;\n"
        "  sendfile on;\n"
        "  server {\n"
        "    listen 127.0.0.1:" + std::to_string(port_) + ";\n"
        "    root " + root.string() + ";\n" +
        (limitRate.empty() ? "" : "    limit_rate " + limitRate + ";\n") +
        "    location = /.fixture-ready { return 200 \"" + token + "\"; }\n"
        "  }\n"
        "}\n";
    writeFile(dir_ / "nginx.conf", config);
    auto child = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "-p", dir_.path().string(), "-e",
                                 (dir_ / "error.log").string(), "-c",
                                 (dir_ / "nginx.conf").string()},
        dir_ / "output.log");
    if (waitForReply(*child, port_, "/.fixture-ready", token, std::chrono::seconds(15)))
      child_ = std::move(child);
  }
}

NginxServer::~NginxServer() { stop(); }

std::string NginxServer::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::log() const {
  return readFile(dir_ / "output.log") + readFile(dir_ / "error.log");
}

void NginxServer::stop() {
  if (child_)
    child_->stop();
}

} // namespace testsupport
