// The Windows side of the engine's platform layer: Winsock 2 sockets,
// files written at offsets through the wide-character API, and the
// performance counter for the clock. Paths arrive in UTF-8 and are turned
// into UTF-16 here, so a folder of any name works whatever the system's
// language.
#include "download/platform.h"

#include "platform/win32/text.h"
#include "platform/win32/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <mutex>

namespace download::platform {

namespace {

constexpr int kSliceMs = 10;

SOCKET sock(NativeHandle handle) { return static_cast<SOCKET>(handle); }
HANDLE fileHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The system's own text for `code`, which is a Winsock or a Win32 error
// number (they share one numbering).
std::string systemText(int code) {
  wchar_t *buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&buffer), 0,
      nullptr);
  std::string text;
  if (length > 0 && buffer) {
    text = ::platform::win32::toUtf8(std::wstring_view(buffer, length));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                             text.back() == ' ' || text.back() == '.'))
      text.pop_back();
  }
  if (buffer)
    ::LocalFree(buffer);
  if (text.empty())
    text = "error " + std::to_string(code);
  return text;
}

Error osError(ErrorKind kind, int code, std::string what) {
  what += ": ";
  what += systemText(code);
  return Error{kind, code, std::move(what)};
}

Error socketError(ErrorKind kind, std::string what) {
  return osError(kind, ::WSAGetLastError(), std::move(what));
}

Error fileError(std::string what) {
  return osError(ErrorKind::File, static_cast<int>(::GetLastError()), std::move(what));
}

// Waits at most one slice for `s` to become writable (or, for a connect
// in progress, to fail). 1: ready, 0: not yet, -1: select failed.
int waitWritable(SOCKET s, bool *failed = nullptr) {
  fd_set writable;
  fd_set broken;
  FD_ZERO(&writable);
  FD_ZERO(&broken);
  FD_SET(s, &writable);
  FD_SET(s, &broken);
  timeval slice{0, kSliceMs * 1000};
  const int ready = ::select(0, nullptr, &writable, &broken, &slice);
  if (ready > 0 && failed)
    *failed = FD_ISSET(s, &broken) != 0;
  return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

// Waits at most one slice for `s` to have bytes to read, or its end.
int waitReadable(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval slice{0, kSliceMs * 1000};
  const int ready = ::select(0, &readable, nullptr, nullptr, &slice);
  return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

// Connects one address; `stepsLeft` is shared between the addresses of a
// name so that the whole attempt stays within the time-out. The socket
// stays non-blocking: Windows leaves a socket whose send timed out in an
// unknown state, so the send and receive loops wait with select instead of
// socket time-outs.
Result<Socket> connectOne(const addrinfo &ai, int &stepsLeft, const std::atomic<bool> &stop) {
  const SOCKET s = ::WSASocketW(ai.ai_family, ai.ai_socktype, ai.ai_protocol, nullptr, 0,
                                WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET)
    return socketError(ErrorKind::Connect, "socket");
  Socket socket(static_cast<NativeHandle>(s));
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
    return socketError(ErrorKind::Connect, "ioctlsocket");
  if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK && code != WSAEINPROGRESS)
      return osError(ErrorKind::Connect, code, "connect");
    bool failed = false;
    for (;;) {
      if (stop.load(std::memory_order_relaxed))
        return Error{ErrorKind::Stopped, 0, "connect stopped"};
      if (stepsLeft <= 0)
        return Error{ErrorKind::Connect, WSAETIMEDOUT, "connect timed out"};
      --stepsLeft;
      const int ready = waitWritable(s, &failed);
      if (ready < 0)
        return socketError(ErrorKind::Connect, "select");
      if (ready > 0)
        break;
    }
    if (failed) {
      int error = 0;
      int len = sizeof error;
      if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len) != 0)
        error = ::WSAGetLastError();
      return osError(ErrorKind::Connect, error != 0 ? error : WSAECONNREFUSED, "connect");
    }
  }
  return socket;
}

std::mutex gNetworkMutex;
bool gNetworkStarted = false; // guarded by gNetworkMutex

} // namespace

void Socket::close() {
  if (handle_ != kInvalidHandle) {
    ::closesocket(sock(handle_));
    handle_ = kInvalidHandle;
  }
}

void File::close() {
  if (handle_ != kInvalidHandle) {
    ::CloseHandle(fileHandle(handle_));
    handle_ = kInvalidHandle;
  }
}

Status File::writeAt(const char *data, std::size_t size, std::int64_t offset) const {
  // The offset travels with each call in its OVERLAPPED record, so calls
  // from several threads never share a file position.
  constexpr std::size_t kMaximumWrite = 1u << 30;
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    const DWORD chunk = static_cast<DWORD>(size < kMaximumWrite ? size : kMaximumWrite);
    DWORD written = 0;
    if (!::WriteFile(fileHandle(handle_), data, chunk, &written, &at))
      return fileError("write");
    if (written == 0)
      return Error{ErrorKind::File, 0, "write: nothing written"};
    data += written;
    size -= written;
    offset += written;
  }
  return success();
}

Result<Socket> connectTo(const std::string &host, std::uint16_t port, int timeoutMs,
                         const std::atomic<bool> &stop) {
  // Engines outside the program (tests, tools) may not have started
  // Winsock; starting it again is harmless.
  initialiseNetwork();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo *list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0)
    return Error{ErrorKind::Resolve, rc, "cannot resolve " + host + ": " + systemText(rc)};

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
  const SOCKET s = sock(socket.native());
  std::int64_t deadline = timeoutMs > 0 ? monotonicMs() + timeoutMs : 0;
  while (!data.empty()) {
    if (stop.load(std::memory_order_relaxed))
      return Error{ErrorKind::Stopped, 0, "send stopped"};
    const int chunk = static_cast<int>(data.size() < (1u << 30) ? data.size() : (1u << 30));
    const int n = ::send(s, data.data(), chunk, 0);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      if (timeoutMs > 0)
        deadline = monotonicMs() + timeoutMs;
      continue;
    }
    const int code = ::WSAGetLastError();
    if (n == SOCKET_ERROR && code != WSAEWOULDBLOCK && code != WSAEINTR)
      return osError(ErrorKind::Send, code, "send");
    if (waitWritable(s) < 0)
      return socketError(ErrorKind::Send, "select");
    if (timeoutMs > 0 && monotonicMs() >= deadline)
      return Error{ErrorKind::Send, WSAETIMEDOUT, "send timed out"};
  }
  return success();
}

Result<std::size_t> receiveSome(Socket &socket, char *buffer, std::size_t size,
                                int silenceMs, const std::atomic<bool> &stop,
                                ReceiveMode mode) {
  const SOCKET s = sock(socket.native());
  const int flags = mode == ReceiveMode::Peek ? MSG_PEEK : 0;
  const int chunk = static_cast<int>(size < (1u << 30) ? size : (1u << 30));
  std::int64_t deadline = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed))
      return Error{ErrorKind::Stopped, 0, "receive stopped"};
    // A busy transfer finds bytes waiting and costs one call per block;
    // only a silent socket is waited on, a slice at a time.
    const int n = ::recv(s, buffer, chunk, flags);
    if (n >= 0)
      return static_cast<std::size_t>(n);
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK && code != WSAEINTR)
      return osError(ErrorKind::Receive, code, "receive");
    const std::int64_t now = monotonicMs();
    if (deadline == 0)
      deadline = now + silenceMs;
    else if (silenceMs > 0 && now >= deadline)
      return Error{ErrorKind::Receive, WSAETIMEDOUT, "receive timed out"};
    if (waitReadable(s) < 0)
      return socketError(ErrorKind::Receive, "select");
  }
}

Result<File> createNewFile(const std::string &path, std::int64_t length) {
  const std::wstring wide = ::platform::win32::toWide(path);
  const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return fileError("create " + path);
  File file(reinterpret_cast<NativeHandle>(h));
  // Giving the file its full length now makes a full disk fail the task
  // at once rather than in mid-download.
  LARGE_INTEGER end{};
  end.QuadPart = length;
  if (length > 0 &&
      (!::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(h))) {
    Error error = fileError("size " + path);
    file.close();
    ::DeleteFileW(wide.c_str());
    return error;
  }
  return file;
}

std::optional<std::int64_t> existingFileSize(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(::platform::win32::toWide(path).c_str(), GetFileExInfoStandard,
                              &data))
    return std::nullopt;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

std::int64_t monotonicMs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f{};
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  // Whole seconds and the rest apart, so the product cannot overflow.
  const std::int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

bool sleepUnlessStopped(std::int64_t ms, const std::atomic<bool> &stop) {
  const std::int64_t end = monotonicMs() + ms;
  for (;;) {
    if (stop.load(std::memory_order_relaxed))
      return false;
    const std::int64_t left = end - monotonicMs();
    if (left <= 0)
      return true;
    ::Sleep(static_cast<DWORD>(left < kSliceMs ? left : kSliceMs));
  }
}

void sleepMs(int ms) { ::Sleep(static_cast<DWORD>(ms > 0 ? ms : 0)); }

std::string localTimeText() {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond);
  return text;
}

PathStyle pathStyle() { return PathStyle::Windows; }

// Winsock is started once for the process, by whichever comes first: the
// program's start-up or the first task; releasing it when it was never
// started, or a second time, does nothing.
void initialiseNetwork() {
  std::lock_guard lock(gNetworkMutex);
  if (gNetworkStarted)
    return;
  WSADATA data{};
  gNetworkStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void releaseNetwork() {
  std::lock_guard lock(gNetworkMutex);
  if (!gNetworkStarted)
    return;
  ::WSACleanup();
  gNetworkStarted = false;
}

} // namespace download::platform
