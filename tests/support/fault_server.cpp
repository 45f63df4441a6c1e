#include "support/fault_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr std::size_t kMaxRequestHeader = 64 * 1024;
constexpr auto kRequestTimeout = std::chrono::seconds(20);
constexpr int kPollStepMs = 20;

[[noreturn]] void fail(const char *what) {
  std::perror(what);
  std::abort();
}

bool startsWithNoCase(const std::string &text, const std::string &prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

const char *reasonPhrase(int status) {
  switch (status) {
  case 200: return "OK";
  case 206: return "Partial Content";
  case 301: return "Moved Permanently";
  case 302: return "Found";
  case 400: return "Bad Request";
  case 403: return "Forbidden";
  case 404: return "Not Found";
  case 416: return "Range Not Satisfiable";
  case 500: return "Internal Server Error";
  default: return "Whatever";
  }
}

} // namespace

std::optional<std::string> Request::header(const std::string &name) const {
  for (const std::string &line : lines) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon != name.size() ||
        !startsWithNoCase(line, name))
      continue;
    std::size_t start = colon + 1;
    while (start < line.size() && line[start] == ' ')
      ++start;
    return line.substr(start);
  }
  return std::nullopt;
}

std::optional<Request> parseRequest(const std::string &raw) {
  Request request;
  request.raw = raw;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < raw.size()) {
    const std::size_t end = raw.find("\r\n", start);
    if (end == std::string::npos)
      break;
    if (end == start)
      break; // the empty line ending the header
    lines.push_back(raw.substr(start, end - start));
    start = end + 2;
  }
  if (lines.empty())
    return std::nullopt;
  const std::string &first = lines.front();
  const std::size_t space1 = first.find(' ');
  const std::size_t space2 = first.rfind(' ');
  if (space1 == std::string::npos || space2 == space1)
    return std::nullopt;
  request.method = first.substr(0, space1);
  request.target = first.substr(space1 + 1, space2 - space1 - 1);
  request.path = request.target;
  if (startsWithNoCase(request.target, "http://")) {
    const std::size_t slash = request.target.find('/', 7);
    request.path = slash == std::string::npos ? "/" : request.target.substr(slash);
  }
  request.lines.assign(lines.begin() + 1, lines.end());
  if (auto range = request.header("Range"); range && startsWithNoCase(*range, "bytes=")) {
    char *end = nullptr;
    const long long offset = std::strtoll(range->c_str() + 6, &end, 10);
    if (end != range->c_str() + 6 && *end == '-')
      request.rangeStart = offset;
  }
  return request;
}

FaultServer::FaultServer(Script script) : script_(std::move(script)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0)
    fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    fail("bind");
  if (::listen(listenFd_, 64) != 0)
    fail("listen");
  socklen_t length = sizeof address;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    fail("getsockname");
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

FaultServer::~FaultServer() { stop(); }

void FaultServer::addFile(const std::string &path, std::string body) {
  std::lock_guard lock(mutex_);
  files_[path] = std::move(body);
}

void FaultServer::setScript(Script script) {
  std::lock_guard lock(mutex_);
  script_ = std::move(script);
}

std::string FaultServer::hostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string FaultServer::url(const std::string &path) const {
  return "http://" + hostPort() + path;
}

std::vector<Request> FaultServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FaultServer::waitForRequests(std::size_t count,
                                  std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return requestArrived_.wait_for(lock, timeout,
                                  [&] { return requests_.size() >= count; });
}

void FaultServer::stop() {
  if (stopping_.exchange(true))
    return;
  if (acceptThread_.joinable())
    acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    // Waking every connection thread out of its wait at once keeps the stop
    // short even when a reply is scripted to hold its connection open.
    for (int fd : openFds_)
      ::shutdown(fd, SHUT_RDWR);
    threads.swap(connectionThreads_);
  }
  for (std::thread &thread : threads)
    thread.join();
  ::close(listenFd_);
}

void FaultServer::acceptLoop() {
  while (!stopping_) {
    pollfd pfd{listenFd_, POLLIN, 0};
    if (::poll(&pfd, 1, kPollStepMs) <= 0)
      continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    // Small writes go out as they are made, so a header sent in pieces
    // arrives in pieces.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mutex_);
    openFds_.push_back(fd);
    connectionThreads_.emplace_back([this, fd] { serve(fd); });
  }
}

bool FaultServer::sendAll(int fd, const char *data, std::size_t size,
                          std::int64_t bytesPerSecond) {
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  std::size_t sent = 0;
  while (sent < size) {
    if (stopping_)
      return false;
    std::size_t allowed = size - sent;
    if (bytesPerSecond > 0) {
      // The body may run ahead of the schedule by one twentieth of a second
      // at most, which keeps the rate even over any window of a second.
      const double elapsed =
          std::chrono::duration<double>(Clock::now() - begin).count();
      const auto budget = static_cast<std::int64_t>(
          (elapsed + 0.05) * static_cast<double>(bytesPerSecond));
      if (budget <= static_cast<std::int64_t>(sent)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(budget) - sent);
    }
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, kPollStepMs);
    if (ready < 0 && errno != EINTR)
      return false;
    if (ready <= 0)
      continue;
    if (pfd.revents & (POLLERR | POLLHUP))
      return false;
    const ssize_t n = ::send(fd, data + sent, allowed, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void FaultServer::serve(int fd) {
  // Reads the request header, bounded in size and time.
  std::string raw;
  const auto deadline = std::chrono::steady_clock::now() + kRequestTimeout;
  bool complete = false;
  while (!stopping_ && std::chrono::steady_clock::now() < deadline &&
         raw.size() < kMaxRequestHeader) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, kPollStepMs) <= 0)
      continue;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
      break;
    raw.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = raw.find("\r\n\r\n");
    if (end != std::string::npos) {
      raw.resize(end + 4);
      complete = true;
      break;
    }
  }

  std::string head;
  std::string body;
  Reply reply;
  if (complete) {
    std::optional<Request> request = parseRequest(raw);
    if (!request) {
      request = Request{};
      request->raw = raw;
    }
    std::lock_guard lock(mutex_);
    request->index = static_cast<int>(requests_.size());
    requests_.push_back(*request);
    requestArrived_.notify_all();
    if (script_)
      reply = script_(*request);

    const std::string &path = reply.path ? *reply.path : request->path;
    const auto file = files_.find(path);
    const bool haveFile = file != files_.end();
    int status = reply.status;
    std::int64_t start = 0;
    std::int64_t total = haveFile ? static_cast<std::int64_t>(file->second.size()) : 0;
    bool partial = false;
    if (status == 0)
      status = haveFile ? 200 : 404;
    if ((status == 200 || status == 206) && haveFile) {
      if (request->rangeStart && !reply.ignoreRange) {
        start = reply.contentRangeStart ? *reply.contentRangeStart : *request->rangeStart;
        if (start >= total) {
          status = 416;
        } else {
          partial = true;
          if (reply.status == 0)
            status = 206;
        }
      }
      if (status != 416)
        body = file->second.substr(static_cast<std::size_t>(start));
    }
    if (body.empty() && status != 200 && status != 206)
      body = std::to_string(status) + " " + reasonPhrase(status) + "\n";

    head = reply.version + " " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    head += "Server: fault-server\r\n";
    head += "Content-Type: application/octet-stream\r\n";
    if (!reply.omitContentLength)
      head += "Content-Length: " +
              (reply.contentLength ? *reply.contentLength : std::to_string(body.size())) +
              "\r\n";
    if (partial) {
      head += "Content-Range: bytes " + std::to_string(start) + "-" +
              std::to_string(start + static_cast<std::int64_t>(body.size()) - 1) + "/" +
              std::to_string(total) + "\r\n";
    }
    if (reply.location)
      head += "Location: " + *reply.location + "\r\n";
    if (reply.setCookie)
      head += "Set-Cookie: " + *reply.setCookie + "\r\n";
    for (const std::string &line : reply.extraLines)
      head += line + "\r\n";
    head += "Connection: close\r\n";
    const std::size_t withEnd = head.size() + 2;
    if (reply.headerSize > withEnd) {
      const std::string name = "X-Filler: ";
      const std::size_t lineSize = std::max(reply.headerSize - withEnd, name.size() + 3);
      head += name + std::string(lineSize - name.size() - 2, 'f') + "\r\n";
    }
    head += "\r\n";
  }

  if (complete && reply.silent) {
    // Holds the connection open without a word until the client gives up.
    while (!stopping_) {
      pollfd pfd{fd, POLLIN, 0};
      if (::poll(&pfd, 1, kPollStepMs) <= 0)
        continue;
      char buffer[256];
      if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
        break;
    }
  } else if (complete) {
    const std::size_t bodyBytes =
        reply.closeAfter ? std::min(*reply.closeAfter, body.size()) : body.size();
    bool sent = true;
    if (reply.headerPiece > 0) {
      for (std::size_t at = 0; sent && at < head.size(); at += reply.headerPiece) {
        sent = sendAll(fd, head.data() + at, std::min(reply.headerPiece, head.size() - at), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    } else {
      sent = sendAll(fd, head.data(), head.size(), 0);
    }
    if (sent)
      sendAll(fd, body.data(), bodyBytes, reply.bytesPerSecond);
  }

  std::lock_guard lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  ::close(fd);
}

} // namespace testsupport
