// The reply header: collected from fragments, then read field by field.
#include "download/reply_header.h"

#include <gtest/gtest.h>

#include <string>

namespace download {
namespace {

// Feeds `stream` in fragments of `step` bytes until the reader stops
// taking; returns how many bytes it took in all.
std::size_t feedInSteps(ReplyHeaderReader &reader, const std::string &stream, std::size_t step) {
  std::size_t offset = 0;
  while (offset < stream.size() && reader.state() == ReplyHeaderReader::State::NeedMore) {
    const std::string_view fragment =
        std::string_view(stream).substr(offset, std::min(step, stream.size() - offset));
    const std::size_t taken = reader.feed(fragment);
    offset += taken;
    if (taken < fragment.size())
      break;
  }
  return offset;
}

TEST(ReplyHeaderReader, FindsTheEndInAnyFragmentationAndLeavesTheBody) {
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
  const std::string stream = header + "BODY!";
  for (std::size_t step : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 1000u}) {
    SCOPED_TRACE(step);
    ReplyHeaderReader reader;
    EXPECT_EQ(feedInSteps(reader, stream, step), header.size());
    EXPECT_EQ(reader.state(), ReplyHeaderReader::State::Complete);
    EXPECT_EQ(reader.text(), header);
    // Once complete, it takes nothing more.
    EXPECT_EQ(reader.feed("more"), 0u);
  }
}

TEST(ReplyHeaderReader, AcceptsBareLineFeeds) {
  const std::string header = "HTTP/1.0 200 OK\nContent-Length: 1\n\n";
  ReplyHeaderReader reader;
  EXPECT_EQ(feedInSteps(reader, header + "x", 1), header.size());
  EXPECT_EQ(reader.state(), ReplyHeaderReader::State::Complete);
}

TEST(ReplyHeaderReader, LimitsTheHeaderTo4097Bytes) {
  struct Case {
    std::size_t total; // the header's size, empty line included
    ReplyHeaderReader::State expected;
  };
  const Case cases[] = {
      {4096, ReplyHeaderReader::State::Complete},
      {4097, ReplyHeaderReader::State::Complete},
      {4098, ReplyHeaderReader::State::TooLong},
      {9000, ReplyHeaderReader::State::TooLong},
  };
  for (const Case &c : cases) {
    for (std::size_t step : {1u, 100u, 4097u, 20480u}) {
      SCOPED_TRACE(std::to_string(c.total) + " bytes in steps of " + std::to_string(step));
      const std::string start = "HTTP/1.1 200 OK\r\nX-Fill: ";
      const std::string end = "\r\n\r\n";
      const std::string header = start + std::string(c.total - start.size() - end.size(), 'a') + end;
      ASSERT_EQ(header.size(), c.total);
      ReplyHeaderReader reader;
      feedInSteps(reader, header + "body", step);
      EXPECT_EQ(reader.state(), c.expected);
      if (c.expected == ReplyHeaderReader::State::Complete) {
        EXPECT_EQ(reader.text(), header);
      }
    }
  }
  // A stream that never ends its header stops being read after the limit.
  ReplyHeaderReader endless;
  const std::string noise(100000, 'x');
  EXPECT_LE(feedInSteps(endless, noise, 333), kMaxReplyHeader + 1);
  EXPECT_EQ(endless.state(), ReplyHeaderReader::State::TooLong);
}

TEST(ParseReplyHeader, ReadsStatusAndFields) {
  const std::string text = "HTTP/1.1 206 Partial Content\r\n"
                           "content-length: 100\r\n"
                           "Content-Range: bytes 50-149/150\r\n"
                           "Content-Disposition: attachment; filename=\"new file.zip\"\r\n"
                           "Set-Cookie: sid=abc; Path=/\r\n"
                           "Set-Cookie: other=1\r\n"
                           "Location:   /x  \r\n"
                           "\r\n";
  auto header = parseReplyHeader(text);
  ASSERT_TRUE(header) << header.error().what;
  EXPECT_EQ(header->status, 206);
  EXPECT_EQ(header->contentLength, 100);
  ASSERT_TRUE(header->contentRange);
  EXPECT_EQ(header->contentRange->first, 50);
  EXPECT_EQ(header->contentRange->last, 149);
  EXPECT_EQ(header->contentRange->total, 150);
  EXPECT_EQ(header->fileName, "new file.zip");
  EXPECT_EQ(header->cookie, "sid=abc");
  EXPECT_EQ(header->location, "/x");
}

TEST(ParseReplyHeader, StatusLine) {
  struct Case {
    const char *line;
    int status; // 0: refused
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK", 200},   {"HTTP/1.0 404 Not Found", 404}, {"HTTP/1.1 302", 302},
      {"HTTP/1.1 301 Moved", 301}, {"HTTP/1.1 20 OK", 0},           {"HTTP/1.1 2000 OK", 0},
      {"HTTX/1.1 200 OK", 0},      {"", 0},                         {"HTTP/1.1 abc", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    auto header = parseReplyHeader(std::string(c.line) + "\r\n\r\n");
    if (c.status == 0) {
      EXPECT_FALSE(header);
    } else {
      ASSERT_TRUE(header);
      EXPECT_EQ(header->status, c.status);
    }
  }
}

TEST(ParseReplyHeader, ContentLengthIsStrict) {
  struct Case {
    const char *lines;
    std::optional<std::int32_t> expected; // none with `ok`: absent
    bool ok;
  };
  const Case cases[] = {
      {"Content-Length: 0\r\n", 0, true},
      {"Content-Length: 2147483647\r\n", 2147483647, true},
      {"Content-Length:12\r\n", 12, true},
      {"Content-Length: 007\r\n", 7, true},
      {"Content-Length: 5\r\nContent-Length: 5\r\n", 5, true},
      {"Content-Length: 5\r\nContent-Length: 005\r\n", 5, true},
      {"X-Other: 1\r\n", std::nullopt, true},
      {"Content-Length: 2147483648\r\n", std::nullopt, false},
      {"Content-Length: 99999999999999999999999\r\n", std::nullopt, false},
      {"Content-Length: -1\r\n", std::nullopt, false},
      {"Content-Length: +1\r\n", std::nullopt, false},
      {"Content-Length: 1e3\r\n", std::nullopt, false},
      {"Content-Length: 0x10\r\n", std::nullopt, false},
      {"Content-Length: 1 2\r\n", std::nullopt, false},
      {"Content-Length: 12abc\r\n", std::nullopt, false},
      {"Content-Length: \r\n", std::nullopt, false},
      {"Content-Length: 5\r\nContent-Length: 6\r\n", std::nullopt, false},
      {"Content-Length: 5, 5\r\n", std::nullopt, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lines);
    auto header = parseReplyHeader(std::string("HTTP/1.1 200 OK\r\n") + c.lines + "\r\n");
    ASSERT_EQ(header.ok(), c.ok);
    if (c.ok) {
      EXPECT_EQ(header->contentLength, c.expected);
    } else {
      EXPECT_EQ(header.error().kind, ErrorKind::Refused);
    }
  }
}

TEST(ParseContentRange, Forms) {
  struct Case {
    const char *value;
    bool ok;
    std::int64_t first, last;
    std::optional<std::int64_t> total;
  };
  const Case cases[] = {
      {"bytes 0-99/100", true, 0, 99, 100},
      {"BYTES 10-19/*", true, 10, 19, std::nullopt},
      {" bytes  5 - 9 / 10 ", true, 5, 9, 10},
      {"bytes 4000000000-4000000001/4000000002", true, 4000000000, 4000000001, 4000000002},
      {"bytes 10-9/100", false, 0, 0, {}},
      {"bytes 0-99/99", false, 0, 0, {}},
      {"bytes */100", false, 0, 0, {}},
      {"items 0-1/2", false, 0, 0, {}},
      {"bytes 0-1", false, 0, 0, {}},
      {"bytes -1-5/10", false, 0, 0, {}},
      {"bytes a-b/c", false, 0, 0, {}},
      {"", false, 0, 0, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    auto range = parseContentRange(c.value);
    ASSERT_EQ(range.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(range->first, c.first);
      EXPECT_EQ(range->last, c.last);
      EXPECT_EQ(range->total, c.total);
    }
  }
}

TEST(DispositionFileName, Forms) {
  struct Case {
    const char *value;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"attachment; filename=a.zip", "a.zip"},
      {"attachment; filename=\"b c.zip\"", "b c.zip"},
      {"attachment;filename=\"semi;colon.zip\"; size=3", "semi;colon.zip"},
      {"attachment; FILENAME=up.zip", "up.zip"},
      {"attachment; filename = spaced.zip ", "spaced.zip"},
      {"attachment; filename=\"esc\\\"aped.zip\"", "esc\"aped.zip"},
      {"attachment; filename*=UTF-8''x.zip", std::nullopt},
      {"attachment; myfilename=x.zip", std::nullopt},
      {"attachment; filename=", std::nullopt},
      {"attachment; filename=\"\"", std::nullopt},
      {"inline", std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(dispositionFileName(c.value), c.expected);
  }
}

TEST(ParseReplyHeader, FirstCookieAndFirstLocationWin) {
  auto header = parseReplyHeader("HTTP/1.1 302 Found\r\nSet-Cookie: ;\r\nSet-Cookie: a=1;b\r\n"
                                 "Location: /one\r\nLocation: /two\r\n\r\n");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->cookie, "a=1");
  EXPECT_EQ(header->location, "/one");
}

} // namespace
} // namespace download
