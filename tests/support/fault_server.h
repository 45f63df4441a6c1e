// An in-process HTTP/1.1 server on loopback whose every reply can be scripted
// to misbehave in one precise way, so that a client's handling of each fault
// can be tested on its own. It serves one request per connection and closes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// One request as the server read it.
struct Request {
  std::string raw;    // the whole header, request line to the empty line
  std::string method; // "GET"
  std::string target; // as sent: a path, or an absolute address via a proxy
  std::string path;   // the target's path, also for an absolute address
  std::vector<std::string> lines; // header lines after the request line
  std::optional<std::int64_t> rangeStart; // from "Range: bytes=N-"
  int index = 0;      // 0 for the first request the server received

  // The value of the first header named `name` (without regard to case).
  std::optional<std::string> header(const std::string &name) const;
};

// What the server does with one request. The defaults serve the file at the
// request's path correctly: 200 with the whole file, or 206 from the asked
// offset, with exact Content-Length and Content-Range; 404 when there is no
// file at that path.
struct Reply {
  // 0 serves the file as above; any other value is sent as the status, with
  // the file's header fields when the path names a file.
  int status = 0;
  // Serves this path's file instead of the requested one.
  std::optional<std::string> path;
  // Answers a range request with 200 and the whole file.
  bool ignoreRange = false;
  // Adds "Location: ..." (for 301 and 302).
  std::optional<std::string> location;
  // Adds "Set-Cookie: ...".
  std::optional<std::string> setCookie;
  // Leaves the Content-Length line out.
  bool omitContentLength = false;
  // Sends this text as the Content-Length value instead of the right one.
  std::optional<std::string> contentLength;
  // Answers a range request from this offset instead of the one asked for,
  // saying so truthfully in Content-Range: the body matches the claim, so a
  // client that writes it at the asked offset corrupts its file.
  std::optional<std::int64_t> contentRangeStart;
  // Further header lines, without CR LF.
  std::vector<std::string> extraLines;
  // Pads the header with a filler field so it is at least this many bytes
  // long, the empty line included.
  std::size_t headerSize = 0;
  // Closes the connection after this many body bytes.
  std::optional<std::size_t> closeAfter;
  // Sends nothing at all and holds the connection open until the client
  // closes it or the server stops.
  bool silent = false;
  // Sends the body at about this many bytes per second; 0: at full speed.
  std::int64_t bytesPerSecond = 0;
  // Sends the header this many bytes at a time, a few milliseconds apart, so
  // that it arrives in many pieces; 0: in one piece with the body's start.
  std::size_t headerPiece = 0;
  // The protocol named in the status line.
  std::string version = "HTTP/1.1";
};

class FaultServer {
public:
  // Chooses the reply for each request. It is called on the connection's
  // thread with the server's lock held, so it may keep its own counters
  // without a lock; it must not call back into the server.
  using Script = std::function<Reply(const Request &)>;

  // Starts listening on 127.0.0.1 at a free port. Without a script every
  // request gets the default reply. Aborts the test program if no socket can
  // be had (there is nothing a test could do without one).
  explicit FaultServer(Script script = {});
  // Stops the server: closes every connection and joins every thread.
  ~FaultServer();
  FaultServer(const FaultServer &) = delete;
  FaultServer &operator=(const FaultServer &) = delete;

  // Makes `body` available at `path` (which starts with "/"). Any thread.
  void addFile(const std::string &path, std::string body);
  // Replaces the script. Any thread.
  void setScript(Script script);

  std::uint16_t port() const { return port_; }
  // "127.0.0.1:port".
  std::string hostPort() const;
  // "http://127.0.0.1:port" followed by `path`.
  std::string url(const std::string &path) const;

  // Every request received so far, in arrival order. Any thread.
  std::vector<Request> requests() const;
  // Waits until at least `count` requests have arrived; false on time-out.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  // Stops accepting, closes every open connection and joins the threads.
  // Called by the destructor; safe to call twice.
  void stop();

private:
  void acceptLoop();
  void serve(int fd);
  bool sendAll(int fd, const char *data, std::size_t size,
               std::int64_t bytesPerSecond);

  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;

  mutable std::mutex mutex_; // guards everything below
  mutable std::condition_variable requestArrived_;
  Script script_;
  std::map<std::string, std::string> files_;
  std::vector<Request> requests_;
  std::vector<std::thread> connectionThreads_;
  std::vector<int> openFds_;
};

// Splits a raw request header into a Request; exposed for the server's own
// tests. Returns nothing when the request line is malformed.
std::optional<Request> parseRequest(const std::string &raw);

} // namespace testsupport
