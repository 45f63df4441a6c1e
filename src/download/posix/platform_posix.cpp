// The POSIX side of the engine's platform layer: BSD sockets, pread/pwrite
// files and the monotonic clock.
#include "download/platform.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace download::platform {

namespace {

constexpr int kSliceMs = 10;

int fd(NativeHandle handle) { return static_cast<int>(handle); }

Error osError(ErrorKind kind, int code, std::string what) {
  what += ": ";
  what += std::strerror(code);
  return Error{kind, code, std::move(what)};
}

// A blocking socket whose every send and receive returns after at most one
// slice, so the loops below can look at the stop flag and their deadline
// without an extra poll call per block.
void setSliceTimeouts(int s) {
  timeval slice{};
  slice.tv_usec = kSliceMs * 1000;
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
}

// Connects one address; `stepsLeft` is shared between the addresses of a
// name so that the whole attempt stays within the time-out.
Result<Socket> connectOne(const addrinfo &ai, int &stepsLeft, const std::atomic<bool> &stop) {
  const int s = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                         ai.ai_protocol);
  if (s < 0)
    return osError(ErrorKind::Connect, errno, "socket");
  Socket socket(s);
  if (::connect(s, ai.ai_addr, ai.ai_addrlen) != 0) {
    if (errno != EINPROGRESS)
      return osError(ErrorKind::Connect, errno, "connect");
    for (;;) {
      if (stop.load(std::memory_order_relaxed))
        return Error{ErrorKind::Stopped, 0, "connect stopped"};
      if (stepsLeft <= 0)
        return Error{ErrorKind::Connect, ETIMEDOUT, "connect timed out"};
      --stepsLeft;
      pollfd p{s, POLLOUT, 0};
      const int ready = ::poll(&p, 1, kSliceMs);
      if (ready < 0 && errno != EINTR)
        return osError(ErrorKind::Connect, errno, "poll");
      if (ready > 0)
        break;
    }
    int code = 0;
    socklen_t len = sizeof code;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &len) != 0)
      code = errno;
    if (code != 0)
      return osError(ErrorKind::Connect, code, "connect");
  }
  const int flags = ::fcntl(s, F_GETFL);
  ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
  setSliceTimeouts(s);
  return socket;
}

} // namespace

void Socket::close() {
  if (handle_ != kInvalidHandle) {
    ::close(fd(handle_));
    handle_ = kInvalidHandle;
  }
}

void File::close() {
  if (handle_ != kInvalidHandle) {
    ::close(fd(handle_));
    handle_ = kInvalidHandle;
  }
}

Status File::writeAt(const char *data, std::size_t size, std::int64_t offset) const {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd(handle_), data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return osError(ErrorKind::File, errno, "write");
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return success();
}

Result<Socket> connectTo(const std::string &host, std::uint16_t port, int timeoutMs,
                         const std::atomic<bool> &stop) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo *list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc == EAI_NONAME || rc == EAI_FAIL || rc == EAI_AGAIN) {
    // AI_ADDRCONFIG hides loopback addresses on a machine with no other
    // interface; ask again without it before giving up.
    hints.ai_flags = 0;
    rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  }
  if (rc != 0)
    return Error{ErrorKind::Resolve, rc,
                 "cannot resolve " + host + ": " + ::gai_strerror(rc)};

  int stepsLeft = timeoutMs / kSliceMs;
  if (stepsLeft < 1)
    stepsLeft = 1;
  Error last{ErrorKind::Connect, 0, "no address for " + host};
  for (addrinfo *ai = list; ai; ai = ai->ai_next) {
    auto socket = connectOne(*ai, stepsLeft, stop);
    if (socket) {
      ::freeaddrinfo(list);
      return socket;
    }
    last = socket.error();
    if (last.kind == ErrorKind::Stopped || stepsLeft <= 0)
      break;
  }
  ::freeaddrinfo(list);
  return last;
}

Status sendAll(Socket &socket, std::string_view data, int timeoutMs,
               const std::atomic<bool> &stop) {
  std::int64_t deadline = timeoutMs > 0 ? monotonicMs() + timeoutMs : 0;
  while (!data.empty()) {
    if (stop.load(std::memory_order_relaxed))
      return Error{ErrorKind::Stopped, 0, "send stopped"};
    const ssize_t n = ::send(fd(socket.native()), data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      if (timeoutMs > 0)
        deadline = monotonicMs() + timeoutMs;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      return osError(ErrorKind::Send, errno, "send");
    if (timeoutMs > 0 && monotonicMs() >= deadline)
      return Error{ErrorKind::Send, ETIMEDOUT, "send timed out"};
  }
  return success();
}

Result<std::size_t> receiveSome(Socket &socket, char *buffer, std::size_t size,
                                int silenceMs, const std::atomic<bool> &stop,
                                ReceiveMode mode) {
  const int flags = mode == ReceiveMode::Peek ? MSG_PEEK : 0;
  std::int64_t deadline = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed))
      return Error{ErrorKind::Stopped, 0, "receive stopped"};
    const ssize_t n = ::recv(fd(socket.native()), buffer, size, flags);
    if (n >= 0)
      return static_cast<std::size_t>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      return osError(ErrorKind::Receive, errno, "receive");
    // The clock is read only once the socket has been silent for a slice,
    // so a busy transfer costs one system call per block.
    const std::int64_t now = monotonicMs();
    if (deadline == 0)
      deadline = now + silenceMs - kSliceMs;
    else if (silenceMs > 0 && now >= deadline)
      return Error{ErrorKind::Receive, ETIMEDOUT, "receive timed out"};
  }
}

Result<File> createNewFile(const std::string &path, std::int64_t length) {
  const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (f < 0)
    return osError(ErrorKind::File, errno, "create " + path);
  File file(f);
  // Reserving the blocks now makes a full disk fail the task at once rather
  // than in mid-download, and spares the writes the block allocation. Where
  // the file system cannot reserve, the file is simply given its length.
  int reserved = length > 0 ? ::posix_fallocate(f, 0, static_cast<off_t>(length)) : 0;
  if (reserved == ENOSPC || reserved == EFBIG) {
    file.close();
    ::unlink(path.c_str());
    return osError(ErrorKind::File, reserved, "reserve " + path);
  }
  if (reserved != 0 && ::ftruncate(f, static_cast<off_t>(length)) != 0) {
    const int code = errno;
    file.close();
    ::unlink(path.c_str());
    return osError(ErrorKind::File, code, "size " + path);
  }
  return file;
}

std::optional<std::int64_t> existingFileSize(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t monotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool sleepUnlessStopped(std::int64_t ms, const std::atomic<bool> &stop) {
  const std::int64_t end = monotonicMs() + ms;
  for (;;) {
    if (stop.load(std::memory_order_relaxed))
      return false;
    const std::int64_t left = end - monotonicMs();
    if (left <= 0)
      return true;
    ::usleep(static_cast<useconds_t>((left < kSliceMs ? left : kSliceMs) * 1000));
  }
}

void sleepMs(int ms) {
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string localTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

PathStyle pathStyle() { return PathStyle::Posix; }

// POSIX sockets need no set-up; MSG_NOSIGNAL keeps a closed peer from
// raising SIGPIPE without touching the process's signal handling.
void initialiseNetwork() {}
void releaseNetwork() {}

} // namespace download::platform
