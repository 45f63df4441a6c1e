#include "download/reply_header.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace download {

namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Digits only, at most `limit`; anything else is no number at all.
std::optional<std::int64_t> plainDecimal(std::string_view s, std::int64_t limit) {
  if (s.empty())
    return std::nullopt;
  std::int64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit)
      return std::nullopt;
  }
  return value;
}

} // namespace

std::size_t ReplyHeaderReader::feed(std::string_view data) {
  if (state_ != State::NeedMore)
    return 0;
  const std::size_t before = text_.size();
  // Never hold more than the limit plus one byte: enough to tell a header
  // that is too long from one that ends exactly at the limit.
  const std::size_t room = kMaxReplyHeader + 1 - before;
  text_.append(data.substr(0, room));

  // The end may straddle the previous fragment, so look back three bytes.
  const std::size_t from = before >= 3 ? before - 3 : 0;
  std::size_t end = std::string::npos;
  for (std::size_t i = from; i < text_.size(); ++i) {
    if (text_[i] != '\n')
      continue;
    if (i >= 1 && text_[i - 1] == '\n') {
      end = i + 1;
      break;
    }
    if (i >= 2 && text_[i - 1] == '\r' && text_[i - 2] == '\n') {
      end = i + 1;
      break;
    }
  }
  if (end != std::string::npos && end <= kMaxReplyHeader) {
    text_.resize(end);
    state_ = State::Complete;
    return end - before;
  }
  if (text_.size() > kMaxReplyHeader) {
    state_ = State::TooLong;
    return text_.size() - before;
  }
  return data.size();
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
  value = trim(value);
  if (value.size() < 6 || !equalNoCase(value.substr(0, 6), "bytes "))
    return std::nullopt;
  value = trim(value.substr(6));
  const auto dash = value.find('-');
  const auto slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
    return std::nullopt;
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max() / 10;
  auto first = plainDecimal(trim(value.substr(0, dash)), kMax);
  auto last = plainDecimal(trim(value.substr(dash + 1, slash - dash - 1)), kMax);
  if (!first || !last || *last < *first)
    return std::nullopt;
  ContentRange range{*first, *last, std::nullopt};
  const auto totalText = trim(value.substr(slash + 1));
  if (totalText != "*") {
    auto total = plainDecimal(totalText, kMax);
    if (!total || *total <= *last)
      return std::nullopt;
    range.total = *total;
  }
  return range;
}

std::optional<std::string> dispositionFileName(std::string_view value) {
  // Walk the ";"-separated parameters so that "filename*=" or a name that
  // merely ends in "filename" is not mistaken for the one we want.
  std::size_t pos = 0;
  while (pos <= value.size()) {
    std::size_t end = pos;
    bool quoted = false;
    while (end < value.size() && (quoted || value[end] != ';')) {
      if (value[end] == '"')
        quoted = !quoted;
      ++end;
    }
    const std::string_view param = trim(value.substr(pos, end - pos));
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && equalNoCase(trim(param.substr(0, eq)), "filename")) {
      std::string_view name = trim(param.substr(eq + 1));
      std::string out;
      if (!name.empty() && name.front() == '"') {
        name.remove_prefix(1);
        for (std::size_t i = 0; i < name.size() && name[i] != '"'; ++i) {
          if (name[i] == '\\' && i + 1 < name.size())
            ++i;
          out += name[i];
        }
      } else {
        out = std::string(name);
      }
      if (out.empty())
        return std::nullopt;
      return out;
    }
    pos = end + 1;
  }
  return std::nullopt;
}

Result<ReplyHeader> parseReplyHeader(std::string_view text) {
  const auto lineEnd = text.find('\n');
  std::string_view statusLine = trim(text.substr(0, lineEnd));
  // "HTTP/" digit "." digit SP three digits, then an optional reason.
  if (statusLine.size() < 12 || statusLine.substr(0, 5) != "HTTP/" ||
      statusLine[8] != ' ' || !std::isdigit(static_cast<unsigned char>(statusLine[9])) ||
      !std::isdigit(static_cast<unsigned char>(statusLine[10])) ||
      !std::isdigit(static_cast<unsigned char>(statusLine[11])) ||
      (statusLine.size() > 12 && statusLine[12] != ' '))
    return Error{ErrorKind::Refused, 0, "malformed status line"};

  ReplyHeader header;
  header.status = (statusLine[9] - '0') * 100 + (statusLine[10] - '0') * 10 +
                  (statusLine[11] - '0');

  std::size_t pos = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
  while (pos < text.size()) {
    auto next = text.find('\n', pos);
    if (next == std::string_view::npos)
      next = text.size();
    const std::string_view line = text.substr(pos, next - pos);
    pos = next + 1;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
      continue;
    const std::string_view name = trim(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));

    if (equalNoCase(name, "Content-Length")) {
      auto length = plainDecimal(value, std::numeric_limits<std::int32_t>::max());
      if (!length)
        return Error{ErrorKind::Refused, 0,
                     "unusable Content-Length: " + std::string(value)};
      if (header.contentLength && *header.contentLength != *length)
        return Error{ErrorKind::Refused, 0, "conflicting Content-Length values"};
      header.contentLength = static_cast<std::int32_t>(*length);
    } else if (equalNoCase(name, "Content-Range")) {
      if (!header.contentRange)
        header.contentRange = parseContentRange(value);
    } else if (equalNoCase(name, "Content-Disposition")) {
      if (!header.fileName)
        header.fileName = dispositionFileName(value);
    } else if (equalNoCase(name, "Set-Cookie")) {
      if (!header.cookie) {
        const std::string_view cookie = trim(value.substr(0, value.find(';')));
        if (!cookie.empty())
          header.cookie = std::string(cookie);
      }
    } else if (equalNoCase(name, "Location")) {
      if (!header.location)
        header.location = std::string(value);
    }
  }
  return header;
}

} // namespace download
