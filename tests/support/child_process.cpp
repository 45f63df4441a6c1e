#include "support/child_process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

ChildProcess::ChildProcess(const std::vector<std::string> &argv,
                           const std::filesystem::path &logPath) {
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed, as the test program has threads.
  std::vector<char *> args;
  for (const std::string &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  const std::string log = logPath.string();
  const pid_t parent = ::getpid();

  pid_ = ::fork();
  if (pid_ < 0) {
    std::perror("fork");
    std::abort();
  }
  if (pid_ == 0) {
    // The child must not outlive a test program that crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0)
      ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() {
  if (reaped_)
    return false;
  int status = 0;
  const pid_t result = ::waitpid(pid_, &status, WNOHANG);
  if (result == pid_ || (result < 0 && errno == ECHILD))
    reaped_ = true;
  return !reaped_;
}

void ChildProcess::stop() {
  if (!running())
    return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 250 && running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
  }
}

std::uint16_t pickFreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    std::perror("pickFreePort");
    std::abort();
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

std::optional<std::string> httpGet(std::uint16_t port, const std::string &path,
                                   std::chrono::milliseconds timeout) {
  return exchange(port,
                  "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                      "\r\nConnection: close\r\n\r\n",
                  timeout);
}

std::optional<std::string> exchange(std::uint16_t port, const std::string &request,
                                    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto remainingMs = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
  };
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::optional<std::string> reply;
  int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (::poll(&pfd, 1, remainingMs()) == 1 &&
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
      rc = 0;
  }
  if (rc == 0) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      std::string text;
      while (true) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, remainingMs()) != 1)
          break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
          continue;
        if (n <= 0) {
          if (n == 0)
            reply = text;
          break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  ::close(fd);
  return reply;
}

bool waitForReply(ChildProcess &child, std::uint16_t port, const std::string &path,
                  const std::string &expected, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!child.running())
      return false;
    const auto reply = httpGet(port, path, std::chrono::milliseconds(2000));
    if (reply && reply->find(expected) != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

} // namespace testsupport
