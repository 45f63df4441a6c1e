#include "download/engine.h"

#include "download/file_name.h"
#include "download/redirect.h"
#include "download/reply_header.h"
#include "download/request.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

namespace download::detail {

namespace {

std::string hostPortText(const Url &url) {
  return url.hostName + ":" + std::to_string(url.port);
}

} // namespace

std::optional<Config> makeConfig(const TaskParam &param) {
  Config config;
  // A task added through Download is always a download.
  config.flags = param.flags | kFlagDownload;
  config.urlText = param.url ? param.url : "";
  auto url = parseUrl(config.urlText);
  if (!url)
    return std::nullopt;
  config.url = std::move(*url);
  config.savePath = param.savePath ? param.savePath : "";
  config.userName = param.userName ? param.userName : std::string(kDefaultUserName);
  config.password = param.password ? param.password : std::string(kDefaultPassword);
  if (config.url.userName) {
    config.userName = *config.url.userName;
    config.password = config.url.password.value_or("");
  }
  config.connectionCount = param.connectionCount < 1 ? 1 : param.connectionCount;
  config.speedLimit = param.speedLimit < 0 ? 0 : param.speedLimit;
  config.connectTimeout = param.connectTimeout;
  config.sendTimeout = param.sendTimeout;
  config.receiveTimeout = param.receiveTimeout;
  config.stopWait = param.stopWait;
  config.receiveBlockSize = param.receiveBlockSize;
  config.sendBlockSize = param.sendBlockSize;
  config.logCallback = param.logCallback;
  config.eventCallback = param.eventCallback;
  config.altRemoteName = param.altRemoteName ? param.altRemoteName : "";
  config.transferType = param.transferType;
  config.binaryExtensions = param.binaryExtensions ? param.binaryExtensions : "";
  if (param.httpProxy && *param.httpProxy) {
    auto proxy = parseUrl(std::string("http://") + param.httpProxy + "/");
    if (!proxy)
      return std::nullopt;
    config.proxy = std::move(*proxy);
  }
  config.referer = param.referer ? std::string(param.referer) : defaultReferer(config.urlText);
  return config;
}

void Attachment::post(Message message, bool urgentMessage) {
  {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(message));
    if (!urgentMessage || urgent)
      return;
    urgent = true;
  }
  wakeUp.notify_one();
}

namespace {

// A reply whose header was accepted; the socket stands at the body's first
// byte, which is byte `position` of the file.
struct Stream {
  platform::Socket socket;
  ReplyHeader header;
  std::int64_t position = 0;
};

// What a connection asks for next.
struct Plan {
  enum class Kind {
    None,   // nothing left for this connection
    First,  // the task's first request: no range, the reply gives the length
    Ranged, // part `part` from its first missing byte
    Whole,  // the whole file again, as the finisher
  };
  Kind kind = Kind::None;
  std::size_t part = 0;
  std::int64_t from = 0;
};

// One connection: its thread runs run(). It owns its buffer and its
// throttle; everything shared goes through the Attachment under its lock.
class Connection {
public:
  Connection(Attachment &task, int id, std::optional<std::size_t> part)
      : task_(task), config_(task.config), id_(id), part_(part) {}

  void run() noexcept;

private:
  std::int32_t loop();
  Status attempt(bool &finished);
  Plan choosePlan();
  Result<Stream> request(std::optional<std::int64_t> rangeFrom);
  Result<std::string> readHeader(platform::Socket &socket);
  Status acceptFirst(Stream &stream);
  Status settleAndCreate(const ReplyHeader &header, std::int64_t length, std::string &path);
  Status readPart(Stream &stream, std::size_t part, bool whole);
  Status readPass(Stream &stream);
  Status receiveInto(Stream &stream, std::size_t part, std::int64_t until);
  Status discard(Stream &stream, std::int64_t until);
  Result<std::size_t> receiveBlock(Stream &stream, char *into, std::size_t want);
  void releaseRoles(bool keepFinisher);
  std::int64_t reachedOffset();

  void event(std::int32_t code, EventArg a2, EventArg a3, EventArg a4, bool urgent = true);
  void log(int level, std::string text);

  Attachment &task_;
  const Config &config_;
  const int id_;
  // Everything below belongs to this connection's thread alone.
  // The part this connection works on, or last worked on.
  std::optional<std::size_t> part_;
  std::unique_ptr<char[]> buffer_; // kBufferSize bytes, allocated on the thread
  int retries_ = 0;                // failures retried so far
};

void Connection::event(std::int32_t code, EventArg a2, EventArg a3, EventArg a4,
                       bool urgent) {
  if (!config_.eventCallback)
    return;
  Message message;
  message.kind = Message::Kind::Event;
  message.code = code;
  message.a2 = a2;
  message.a3 = a3;
  message.a4 = a4;
  message.connection = id_;
  task_.post(std::move(message), urgent);
}

void Connection::log(int level, std::string text) {
  if (!config_.logCallback)
    return;
  Message message;
  message.kind = Message::Kind::Log;
  message.connection = id_;
  message.level = level;
  message.text = std::move(text);
  message.time = platform::localTimeText();
  task_.post(std::move(message), true);
}

void Connection::run() noexcept {
  std::int32_t final = kEventConnectionFailed;
  try {
    buffer_ = std::make_unique<char[]>(kBufferSize);
    event(kEventConnectionStarted, id_, 0, 0);
    if (part_) {
      std::int64_t start = 0;
      std::int64_t end = 0;
      {
        std::lock_guard lock(task_.mutex);
        start = task_.parts[*part_].start;
        end = task_.parts[*part_].end;
      }
      event(kEventPartBegun, id_, static_cast<EventArg>(start), static_cast<EventArg>(end));
    }
    final = loop();
  } catch (...) {
    final = kEventConnectionFailed;
  }
  try {
    releaseRoles(false);
    event(final, id_, static_cast<EventArg>(reachedOffset()), 0);
    Message ended;
    ended.kind = Message::Kind::Ended;
    ended.connection = id_;
    task_.post(std::move(ended), true);
  } catch (...) {
    // Without memory for the last message the task thread would wait for
    // this connection forever; nothing else can be done here.
  }
  task_.running.fetch_sub(1);
}

std::int64_t Connection::reachedOffset() {
  std::lock_guard lock(task_.mutex);
  if (!part_ || *part_ >= task_.parts.size())
    return 0;
  return task_.parts[*part_].next();
}

// Gives up what this connection holds in the shared bookkeeping: its
// incomplete parts become free for others, and its roles pass on.
void Connection::releaseRoles(bool keepFinisher) {
  std::lock_guard lock(task_.mutex);
  for (Part &part : task_.parts) {
    if (part.owner != id_)
      continue;
    part.active = false;
    if (!keepFinisher && !part.complete())
      part.owner = 0;
  }
  if (!keepFinisher && task_.finisher == id_)
    task_.finisher = 0;
  if (task_.wholeStreamHolder == id_)
    task_.wholeStreamHolder = 0;
}

std::int32_t Connection::loop() {
  for (;;) {
    if (task_.stop.load())
      return kEventConnectionEnded;
    bool finished = false;
    const Status status = attempt(finished);
    if (status.ok()) {
      if (finished)
        return kEventConnectionEnded;
      continue;
    }
    const Error &error = status.error();
    if (error.kind == ErrorKind::Stopped || task_.stop.load())
      return kEventConnectionEnded;
    log(3, error.what);
    // The connection keeps its part over the pause, but a finisher may
    // take it meanwhile: it is no longer receiving.
    releaseRoles(true);
    if (!error.retryable() || ++retries_ > kMaxRetries)
      return kEventConnectionFailed;
    log(0, "retrying in 5 seconds");
    if (!platform::sleepUnlessStopped(kRetryPauseMs, task_.stop))
      return kEventConnectionEnded;
  }
}

Plan Connection::choosePlan() {
  std::int64_t takeoverFrom = 0;
  std::int64_t takeoverEnd = 0;
  Plan plan;
  {
    std::lock_guard lock(task_.mutex);
    if (!task_.sizeKnown) {
      plan.kind = Plan::Kind::First;
      return plan;
    }
    if (task_.finisher == id_) {
      plan.kind = Plan::Kind::Whole;
      return plan;
    }
    if (part_ && task_.parts[*part_].owner == id_ && !task_.parts[*part_].complete()) {
      plan.kind = Plan::Kind::Ranged;
      plan.part = *part_;
      plan.from = task_.parts[*part_].next();
      return plan;
    }
    if (task_.rangesIgnored) {
      const bool work = std::any_of(task_.parts.begin(), task_.parts.end(), [](const Part &p) {
        return !p.complete() && !(p.owner != 0 && p.active);
      });
      if (task_.finisher == 0 && task_.wholeStreamHolder == 0 && work) {
        task_.finisher = id_;
        plan.kind = Plan::Kind::Whole;
      }
      return plan;
    }
    const auto next = chooseTakeover(task_.parts);
    if (!next)
      return plan;
    Part &part = task_.parts[*next];
    part.owner = id_;
    part.active = false;
    part_ = *next;
    plan.kind = Plan::Kind::Ranged;
    plan.part = *next;
    plan.from = part.next();
    takeoverFrom = part.next();
    takeoverEnd = part.end;
  }
  event(kEventPartTakenOver, id_, static_cast<EventArg>(takeoverFrom),
        static_cast<EventArg>(takeoverEnd));
  return plan;
}

Status Connection::attempt(bool &finished) {
  const Plan plan = choosePlan();
  switch (plan.kind) {
  case Plan::Kind::None:
    finished = true;
    return success();

  case Plan::Kind::First: {
    auto stream = request(std::nullopt);
    if (!stream)
      return stream.error();
    if (auto status = acceptFirst(*stream); !status)
      return status;
    return readPart(*stream, 0, true);
  }

  case Plan::Kind::Whole: {
    auto stream = request(std::nullopt);
    if (!stream)
      return stream.error();
    std::int64_t length = 0;
    {
      std::lock_guard lock(task_.mutex);
      length = task_.length;
    }
    if (stream->header.status != 200 || stream->header.contentLength != length)
      return Error{ErrorKind::Refused, 0, "the whole-file reply does not match the file"};
    return readPass(*stream);
  }

  case Plan::Kind::Ranged:
    break;
  }

  auto stream = request(plan.from);
  if (!stream)
    return stream.error();
  const ReplyHeader &header = stream->header;
  std::int64_t length = 0;
  {
    std::lock_guard lock(task_.mutex);
    length = task_.length;
  }
  if (header.status == 206) {
    // Bytes are only ever written where they belong: a range that does not
    // start where we asked is refused outright.
    if (!header.contentRange || header.contentRange->first != plan.from)
      return Error{ErrorKind::Refused, 0, "Content-Range does not start at the offset asked for"};
    if (header.contentRange->total && *header.contentRange->total != length)
      return Error{ErrorKind::Refused, 0, "Content-Range gives another file length"};
    stream->position = plan.from;
    return readPart(*stream, plan.part, false);
  }
  if (header.contentLength != length)
    return Error{ErrorKind::Refused, 0, "a reply for a part with an unexpected length"};
  stream->position = 0;
  if (plan.from == 0)
    return readPart(*stream, plan.part, true);

  // The server ignored the range and sent the whole file.
  bool finish = false;
  {
    std::lock_guard lock(task_.mutex);
    task_.rangesIgnored = true;
    if (task_.finisher == 0 && task_.wholeStreamHolder == 0) {
      task_.finisher = id_;
      finish = true;
    }
  }
  log(0, "the server ignores ranges; the file is finished from whole-file replies");
  if (finish)
    return readPass(*stream);
  // Someone else finishes the file; this connection's part goes to them.
  releaseRoles(false);
  finished = true;
  return success();
}

Result<Stream> Connection::request(std::optional<std::int64_t> rangeFrom) {
  RedirectTrail trail(config_.url);
  for (;;) {
    const Url &url = trail.current();
    const Url &peer = config_.proxy ? *config_.proxy : url;
    log(0, "connecting to " + hostPortText(peer));
    auto socket = platform::connectTo(peer.hostName, peer.port, config_.connectTimeout,
                                      task_.stop);
    if (!socket)
      return socket.error();
    const std::string target = config_.proxy ? url.text() : url.path;
    const std::string text = buildRequest({target, url.hostPart, config_.referer, rangeFrom,
                                           trail.cookie(), config_.proxy.has_value()});
    log(1, text);
    if (auto sent = platform::sendAll(*socket, text, config_.sendTimeout, task_.stop); !sent)
      return sent.error();
    auto headerText = readHeader(*socket);
    if (!headerText)
      return headerText.error();
    log(2, *headerText);
    auto header = parseReplyHeader(*headerText);
    if (!header)
      return header.error();
    const int status = header->status;
    if (status == 301 || status == 302) {
      // Each redirect is followed on a new connection.
      if (auto followed = trail.follow(*header); !followed)
        return followed.error();
      continue;
    }
    if (status != 200 && status != 206)
      return Error{ErrorKind::Refused, 0, "the server answered " + std::to_string(status)};
    Stream stream;
    stream.socket = std::move(*socket);
    stream.header = std::move(*header);
    return stream;
  }
}

// Collects the header without reading past its end: the bytes are first
// looked at in the socket and only the header's own are taken, so the body
// starts with the socket's next byte.
Result<std::string> Connection::readHeader(platform::Socket &socket) {
  ReplyHeaderReader reader;
  char *buffer = buffer_.get();
  for (;;) {
    const std::size_t room = kMaxReplyHeader + 1 - reader.text().size();
    auto peeked = platform::receiveSome(socket, buffer, room, config_.receiveTimeout,
                                        task_.stop, platform::ReceiveMode::Peek);
    if (!peeked)
      return peeked.error();
    if (*peeked == 0)
      return Error{ErrorKind::Receive, 0, "the connection closed before the reply header ended"};
    std::size_t taken = reader.feed(std::string_view(buffer, *peeked));
    while (taken > 0) {
      auto got = platform::receiveSome(socket, buffer, taken, config_.receiveTimeout, task_.stop);
      if (!got)
        return got.error();
      if (*got == 0)
        return Error{ErrorKind::Receive, 0, "the connection closed in the reply header"};
      taken -= *got;
    }
    switch (reader.state()) {
    case ReplyHeaderReader::State::Complete:
      return reader.text();
    case ReplyHeaderReader::State::TooLong:
      return Error{ErrorKind::Refused, 0, "the reply header is longer than 4097 bytes"};
    case ReplyHeaderReader::State::NeedMore:
      break;
    }
  }
}

Status Connection::acceptFirst(Stream &stream) {
  const ReplyHeader &header = stream.header;
  std::int64_t length = 0;
  if (header.status == 200) {
    if (!header.contentLength)
      return Error{ErrorKind::Refused, 0, "the first reply carries no Content-Length"};
    length = *header.contentLength;
  } else {
    // A 206 to a request without a range: usable only when it is the whole
    // file from its first byte.
    if (!header.contentRange || header.contentRange->first != 0 ||
        !header.contentRange->total || *header.contentRange->total > INT32_MAX)
      return Error{ErrorKind::Refused, 0, "a partial first reply"};
    length = *header.contentRange->total;
  }

  std::string path;
  if (auto created = settleAndCreate(header, length, path); !created)
    return created;

  std::int64_t firstEnd = 0;
  {
    std::lock_guard lock(task_.mutex);
    task_.parts = splitParts(length, config_.connectionCount);
    for (std::size_t i = 0; i < task_.parts.size(); ++i)
      task_.parts[i].owner = static_cast<int>(i) + 1;
    task_.parts[0].active = true;
    task_.length = length;
    task_.sizeKnown = true;
    task_.wholeStreamHolder = id_;
    firstEnd = task_.parts[0].end;
  }
  part_ = 0;
  stream.position = 0;
  event(kEventPartBegun, id_, 0, static_cast<EventArg>(firstEnd));
  Message known;
  known.kind = Message::Kind::SizeKnown;
  known.a3 = static_cast<EventArg>(length);
  known.text = std::move(path);
  task_.post(std::move(known), true);
  return success();
}

Status Connection::settleAndCreate(const ReplyHeader &header, std::int64_t length,
                                   std::string &path) {
  auto settled = settleSavePath(config_.savePath, header.fileName, config_.url.path,
                                platform::pathStyle());
  if (!settled)
    return Error{ErrorKind::Refused, 0, "no usable file name for " + config_.savePath};
  path = std::move(*settled);
  if (auto size = platform::existingFileSize(path)) {
    // Without a callback nobody can answer; renaming is the answer that
    // never touches an existing file.
    std::int32_t answer = 0;
    if (config_.eventCallback)
      answer = config_.eventCallback(kEventFileExists, static_cast<EventArg>(*size),
                                     static_cast<EventArg>(length), 0, task_.handle());
    if (answer == 0) {
      bool found = false;
      for (int n = 1; n <= kMaxSameNameTries && !found; ++n) {
        std::string candidate = sameNameCandidate(path, n, platform::pathStyle());
        if (!platform::existingFileSize(candidate)) {
          path = std::move(candidate);
          found = true;
        }
      }
      if (!found)
        return Error{ErrorKind::Refused, 0, "no free name for " + path};
    } else if (answer != 2) {
      return Error{ErrorKind::Refused, 0, "the file exists: " + path};
    }
  }
  auto file = platform::createNewFile(path, length);
  if (!file)
    return file.error();
  task_.file = std::move(*file);
  log(0, "created " + path);
  return success();
}

// Reads the stream into `part` up to the part's end. A stream that started
// at byte 0 (`whole`) can go on past the part when the ranges turn out to
// be ignored: this connection then finishes the file with it.
Status Connection::readPart(Stream &stream, std::size_t part, bool whole) {
  // The stream stands at the part's first missing byte: byte 0 for a whole
  // stream of a part not yet begun, the asked offset for a range.
  std::int64_t until = 0;
  {
    std::lock_guard lock(task_.mutex);
    Part &p = task_.parts[part];
    if (p.owner != id_) {
      // A finisher took the part while this connection waited for its reply.
      return success();
    }
    p.active = true;
    until = p.end;
    if (whole && task_.wholeStreamHolder == 0)
      task_.wholeStreamHolder = id_;
  }
  if (auto status = receiveInto(stream, part, until); !status)
    return status;

  bool goOn = false;
  {
    std::lock_guard lock(task_.mutex);
    if (task_.wholeStreamHolder == id_) {
      task_.wholeStreamHolder = 0;
      if (whole && task_.rangesIgnored && task_.finisher == 0) {
        task_.finisher = id_;
        goOn = true;
      }
    }
  }
  if (goOn)
    return readPass(stream);
  return success();
}

Status Connection::readPass(Stream &stream) {
  for (;;) {
    PassStep step;
    std::int64_t from = 0;
    std::int64_t end = 0;
    {
      std::lock_guard lock(task_.mutex);
      step = planPass(task_.parts, stream.position, id_);
      if (step.kind != PassStep::Kind::End) {
        from = task_.parts[step.part].next();
        end = task_.parts[step.part].end;
      }
    }
    if (step.claimed) {
      part_ = step.part;
      event(kEventPartTakenOver, id_, static_cast<EventArg>(from), static_cast<EventArg>(end));
    }
    Status status = success();
    switch (step.kind) {
    case PassStep::Kind::End: {
      // This pass is over; whatever is still missing needs a new one.
      std::lock_guard lock(task_.mutex);
      task_.finisher = 0;
      for (Part &part : task_.parts)
        if (part.owner == id_) {
          part.active = false;
          if (!part.complete())
            part.owner = 0;
        }
      return success();
    }
    case PassStep::Kind::Discard:
      status = discard(stream, step.until);
      break;
    case PassStep::Kind::Write:
      part_ = step.part;
      status = receiveInto(stream, step.part, step.until);
      break;
    }
    if (!status)
      return status;
  }
}

Result<std::size_t> Connection::receiveBlock(Stream &stream, char *into, std::size_t want) {
  if (config_.speedLimit <= 0) {
    if (config_.receiveBlockSize > 0)
      want = std::min(want, static_cast<std::size_t>(config_.receiveBlockSize));
    return platform::receiveSome(stream.socket, into, want, config_.receiveTimeout, task_.stop);
  }
  // With a limit, a block is at most this connection's share of it, and
  // the whole task takes at most the limit in each second: once this
  // second's bytes are granted, every connection pauses for its rest.
  const std::int64_t limit = config_.speedLimit;
  std::int64_t grant = 0;
  for (;;) {
    std::int64_t pause = 0;
    {
      std::lock_guard lock(task_.limiterMutex);
      const std::int64_t now = platform::monotonicMs();
      if (task_.windowStart == 0) {
        task_.windowStart = now;
        task_.windowUsed = 0;
      } else if (now - task_.windowStart >= 1000) {
        // Windows stay on a one-second grid, so a late arrival does not
        // stretch the second it starts.
        task_.windowStart = now - (now - task_.windowStart) % 1000;
        task_.windowUsed = 0;
      }
      const std::int64_t left = limit - task_.windowUsed;
      if (left > 0) {
        const std::int64_t share = std::max<std::int64_t>(1, limit / std::max(1, task_.receiving.load()));
        grant = std::min({static_cast<std::int64_t>(want), share, left});
        task_.windowUsed += grant;
      } else {
        pause = task_.windowStart + 1000 - now;
      }
    }
    if (grant > 0)
      break;
    if (!platform::sleepUnlessStopped(pause, task_.stop))
      return Error{ErrorKind::Stopped, 0, "stopped"};
  }
  auto got = platform::receiveSome(stream.socket, into, static_cast<std::size_t>(grant),
                                   config_.receiveTimeout, task_.stop);
  const std::int64_t unused = got ? grant - static_cast<std::int64_t>(*got) : grant;
  if (unused > 0) {
    std::lock_guard lock(task_.limiterMutex);
    task_.windowUsed -= unused;
  }
  return got;
}

// Counts the connection among those sharing the speed limit while it is in
// a data loop.
class Receiving {
public:
  explicit Receiving(std::atomic<int> &count) : count_(count) { count_.fetch_add(1); }
  ~Receiving() { count_.fetch_sub(1); }
  Receiving(const Receiving &) = delete;
  Receiving &operator=(const Receiving &) = delete;

private:
  std::atomic<int> &count_;
};

Status Connection::receiveInto(Stream &stream, std::size_t part, std::int64_t until) {
  Receiving receiving(task_.receiving);
  char *buffer = buffer_.get();
  std::size_t filled = 0;
  std::int64_t base = stream.position;

  auto flush = [&]() -> Status {
    if (filled == 0)
      return success();
    if (auto written = task_.file.writeAt(buffer, filled, base); !written)
      return written;
    {
      std::lock_guard lock(task_.mutex);
      task_.parts[part].done += static_cast<std::int64_t>(filled);
    }
    base += static_cast<std::int64_t>(filled);
    filled = 0;
    return success();
  };

  while (stream.position < until) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kBufferSize - filled),
                               until - stream.position));
    auto got = receiveBlock(stream, buffer + filled, want);
    if (!got || *got == 0) {
      // What was received still goes to the file, so that the part's count
      // of done bytes is exact and a retry asks from the first byte missing.
      if (auto flushed = flush(); !flushed)
        return flushed;
      if (!got)
        return got.error();
      return Error{ErrorKind::Receive, 0, "the reply ended before the part's end"};
    }
    filled += *got;
    stream.position += static_cast<std::int64_t>(*got);
    task_.received.fetch_add(static_cast<std::int32_t>(*got), std::memory_order_relaxed);
    event(kEventBlockReceived, id_, static_cast<EventArg>(*got), 0, false);
    if (filled == kBufferSize || stream.position == until)
      if (auto flushed = flush(); !flushed)
        return flushed;
  }
  return success();
}

Status Connection::discard(Stream &stream, std::int64_t until) {
  while (stream.position < until) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kBufferSize), until - stream.position));
    auto got = receiveBlock(stream, buffer_.get(), want);
    if (!got)
      return got.error();
    if (*got == 0)
      return Error{ErrorKind::Receive, 0, "the reply ended before the file's end"};
    stream.position += static_cast<std::int64_t>(*got);
  }
  return success();
}

// The task thread's side: it starts the connections, delivers what they
// post, and raises event 4 once all of them have ended.
class TaskRunner {
public:
  explicit TaskRunner(Attachment &task) : task_(task), config_(task.config) {}
  void run();

private:
  bool startConnection(int id, std::optional<std::size_t> part);
  void deliver(Message &message);
  void raise(std::int32_t code, EventArg a2, EventArg a3, EventArg a4);

  Attachment &task_;
  const Config &config_;
  std::map<int, std::thread> threads_; // this thread only
  int ended_ = 0;
};

void TaskRunner::raise(std::int32_t code, EventArg a2, EventArg a3, EventArg a4) {
  if (!config_.eventCallback)
    return;
  try {
    config_.eventCallback(code, a2, a3, a4, task_.handle());
  } catch (...) {
    // A callback's failure is its own affair; the task goes on.
  }
}

bool TaskRunner::startConnection(int id, std::optional<std::size_t> part) {
  task_.running.fetch_add(1);
  try {
    threads_.emplace(id, std::thread([this, id, part] {
                       Connection connection(task_, id, part);
                       connection.run();
                     }));
    return true;
  } catch (...) {
    task_.running.fetch_sub(1);
    if (part) {
      std::lock_guard lock(task_.mutex);
      task_.parts[*part].owner = 0;
    }
    return false;
  }
}

void TaskRunner::deliver(Message &message) {
  switch (message.kind) {
  case Message::Kind::Event:
    raise(message.code, message.a2, message.a3, message.a4);
    break;
  case Message::Kind::Log:
    if (config_.logCallback) {
      try {
        config_.logCallback(message.connection, message.time.c_str(), message.text.c_str(),
                            message.level, task_.handle());
      } catch (...) {
      }
    }
    break;
  case Message::Kind::SizeKnown: {
    raise(kEventSizeKnown, task_.handle(), message.a3,
          reinterpret_cast<EventArg>(message.text.c_str()));
    std::size_t count = 0;
    {
      std::lock_guard lock(task_.mutex);
      count = task_.parts.size();
    }
    for (std::size_t i = 1; i < count; ++i) {
      if (task_.stop.load()) {
        std::lock_guard lock(task_.mutex);
        task_.parts[i].owner = 0;
        continue;
      }
      startConnection(static_cast<int>(i) + 1, i);
    }
    break;
  }
  case Message::Kind::Ended: {
    auto thread = threads_.find(message.connection);
    if (thread != threads_.end()) {
      thread->second.join();
      threads_.erase(thread);
    }
    ++ended_;
    break;
  }
  }
}

void TaskRunner::run() {
  if (config_.url.scheme != Scheme::Http) {
    // Only http transfers are built; other recognised schemes end at once.
    raise(kEventConnectionFailed, 1, 0, 0);
  } else if (task_.stop.load()) {
    // Destroyed before its first connection started: nothing to report but
    // the end.
  } else if (startConnection(1, std::nullopt)) {
    try {
      std::vector<Message> batch;
      int started = 1;
      while (ended_ < started) {
        {
          std::unique_lock lock(task_.mutex);
          task_.wakeUp.wait_for(lock, std::chrono::milliseconds(10),
                                [this] { return task_.urgent; });
          task_.urgent = false;
          batch.swap(task_.queue);
        }
        for (Message &message : batch)
          deliver(message);
        batch.clear();
        started = static_cast<int>(threads_.size()) + ended_;
      }
    } catch (...) {
      // Without its queue the task cannot go on; its connections are told
      // to stop and joined below, and event 4 still comes.
      task_.stop.store(true);
    }
  } else {
    raise(kEventConnectionFailed, 1, 0, 0);
  }
  for (auto &[id, thread] : threads_)
    thread.join();
  threads_.clear();

  std::int64_t length = 0;
  {
    std::lock_guard lock(task_.mutex);
    length = task_.length;
  }
  task_.file.close();
  const EventArg reported = task_.stop.load() ? static_cast<EventArg>(task_.received.load())
                                              : static_cast<EventArg>(length);
  raise(kEventFinished, task_.handle(), reported, 0);
  task_.received.store(0);
  task_.ended.store(true);
}

} // namespace

void runTask(std::shared_ptr<Attachment> task) noexcept {
  try {
    TaskRunner runner(*task);
    runner.run();
  } catch (...) {
    // The runner joins its connections before anything that could throw
    // escapes it, so nothing is left running here.
    task->ended.store(true);
  }
}

} // namespace download::detail
