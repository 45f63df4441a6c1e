// The request header, byte for byte.
#include "download/request.h"

#include <gtest/gtest.h>

namespace download {
namespace {

constexpr char kAgent[] = "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";

TEST(BuildRequest, DirectAndProxyVariants) {
  struct Case {
    const char *name;
    RequestInput input;
    std::string expected;
  };
  const std::string direct = "Pragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
  const Case cases[] = {
      {"first request",
       {"/files/a.zip", "h:8080", "http://h:8080/files", std::nullopt, "", false},
       std::string("GET /files/a.zip HTTP/1.1\r\nHost: h:8080\r\nAccept: */*\r\n"
                   "Referer: http://h:8080/files\r\n") +
           kAgent + direct},
      {"further part",
       {"/a.zip", "h", "r", std::int64_t{123456}, "", false},
       std::string("GET /a.zip HTTP/1.1\r\nHost: h\r\nAccept: */*\r\nReferer: r\r\n") + kAgent +
           "Range: bytes=123456-\r\n" + direct},
      {"retry from zero",
       {"/a.zip", "h", "r", std::int64_t{0}, "", false},
       std::string("GET /a.zip HTTP/1.1\r\nHost: h\r\nAccept: */*\r\nReferer: r\r\n") + kAgent +
           "Range: bytes=0-\r\n" + direct},
      {"after a redirect with a cookie",
       {"/b.zip", "h", "r", std::nullopt, "sid=1", false},
       std::string("GET /b.zip HTTP/1.1\r\nHost: h\r\nAccept: */*\r\nReferer: r\r\n") + kAgent +
           "Cookie: sid=1\r\n" + direct},
      {"empty referer",
       {"/a", "h", "", std::nullopt, "", false},
       std::string("GET /a HTTP/1.1\r\nHost: h\r\nAccept: */*\r\nReferer: \r\n") + kAgent + direct},
      {"through a proxy",
       {"http://h/a.zip", "h", "r", std::nullopt, "", true},
       std::string("GET http://h/a.zip HTTP/1.1\r\nHost: h\r\n") + kAgent +
           "Proxy-Connection: Keep-Alive\r\n\r\n"},
      {"through a proxy, further part",
       {"http://h/a.zip", "h", "r", std::int64_t{7}, "", true},
       std::string("GET http://h/a.zip HTTP/1.1\r\nHost: h\r\n") + kAgent +
           "Range: bytes=7-\r\nProxy-Connection: Keep-Alive\r\n\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(buildRequest(c.input), c.expected);
  }
}

} // namespace
} // namespace download
