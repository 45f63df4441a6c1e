// The reply header: collecting it from the stream and reading its fields.
// Pure: the reader is fed whatever the socket delivered and says how much
// of it belonged to the header; the rest is the body's first bytes.
#pragma once

#include "download/result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download {

// The longest reply header accepted, its closing empty line included.
inline constexpr std::size_t kMaxReplyHeader = 4097;

class ReplyHeaderReader {
public:
  enum class State { NeedMore, Complete, TooLong };

  // Takes bytes from the front of `data` until the header is complete and
  // returns how many it took; bytes after the empty line are left to the
  // caller. Once the state is Complete or TooLong it takes nothing more.
  std::size_t feed(std::string_view data);

  State state() const { return state_; }
  // The header collected so far; when complete, up to and including the
  // empty line.
  const std::string &text() const { return text_; }

private:
  std::string text_;
  State state_ = State::NeedMore;
};

struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::optional<std::int64_t> total; // none for "*"
};

struct ReplyHeader {
  int status = 0;
  std::optional<std::int32_t> contentLength;
  std::optional<ContentRange> contentRange; // none when absent or malformed
  std::optional<std::string> fileName;      // Content-Disposition filename=
  std::optional<std::string> cookie;        // the first Set-Cookie's name=value
  std::optional<std::string> location;
};

// Reads a complete header. Fails with ErrorKind::Refused for a status line
// that is not "HTTP/x.y NNN", and for a Content-Length that is not a plain
// decimal number, is negative, does not fit a signed 32-bit value, or is
// given twice with different values.
Result<ReplyHeader> parseReplyHeader(std::string_view text);

// Parses a Content-Range value: "bytes first-last/total" or ".../*".
std::optional<ContentRange> parseContentRange(std::string_view value);

// The "filename=" parameter of a Content-Disposition value, unquoted; none
// when absent or empty.
std::optional<std::string> dispositionFileName(std::string_view value);

} // namespace download
