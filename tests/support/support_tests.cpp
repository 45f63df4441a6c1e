// Checks the test servers themselves with a raw socket client, so that an
// engine test that fails points at the engine and not at its server.
#include "support/child_process.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/python_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>

namespace testsupport {
namespace {

using namespace std::chrono_literals;

struct RawReply {
  std::string head;
  std::string body;
};

RawReply split(const std::string &reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  if (end == std::string::npos)
    return {reply, ""};
  return {reply.substr(0, end + 4), reply.substr(end + 4)};
}

std::string get(std::uint16_t port, const std::string &target, const std::string &extra = "") {
  const auto reply = exchange(port,
                              "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
                                  "Connection: close\r\n\r\n",
                              10s);
  return reply.value_or("<no reply>");
}

TEST(ParseRequest, SplitsLinesAndReadsTheRange) {
  const auto request = parseRequest("GET http://example.invalid:81/a/b.zip HTTP/1.1\r\n"
                                    "Host: example.invalid:81\r\nrange: bytes=123-\r\n\r\n");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->target, "http://example.invalid:81/a/b.zip");
  EXPECT_EQ(request->path, "/a/b.zip");
  EXPECT_EQ(request->lines.size(), 2u);
  EXPECT_EQ(request->header("Host"), "example.invalid:81");
  EXPECT_EQ(request->rangeStart, 123);
  EXPECT_FALSE(request->header("Hos"));
}

TEST(FaultServer, ServesEachScriptedReply) {
  const std::string file = patternBytes(1000);
  struct Case {
    const char *name;
    std::string extraRequestLines;
    Reply reply;
    std::string expectedHeadPart;
    std::string expectedBody;
  };
  const std::vector<Case> cases = {
      {"whole file", "", {}, "HTTP/1.1 200 OK\r\n", file},
      {"range honoured", "Range: bytes=990-\r\n", {},
       "Content-Range: bytes 990-999/1000\r\n", file.substr(990)},
      {"range ignored", "Range: bytes=990-\r\n", {.ignoreRange = true},
       "Content-Length: 1000\r\n", file},
      {"wrong content range", "Range: bytes=990-\r\n", {.contentRangeStart = 0},
       "Content-Range: bytes 0-999/1000\r\n", file},
      {"redirect with cookie", "",
       {.status = 302, .location = "/elsewhere", .setCookie = "sid=42"},
       "HTTP/1.1 302 Found\r\n", "302 Found\n"},
      {"custom length", "", {.contentLength = "-5"}, "Content-Length: -5\r\n", file},
      {"dropped in mid-body", "", {.closeAfter = 100}, "Content-Length: 1000\r\n",
       file.substr(0, 100)},
      {"missing file", "", {.path = "/nothing"}, "HTTP/1.1 404 Not Found\r\n",
       "404 Not Found\n"},
      {"header in pieces", "", {.headerPiece = 5}, "HTTP/1.1 200 OK\r\n", file},
      {"older protocol", "", {.version = "HTTP/1.0"}, "HTTP/1.0 200 OK\r\n", file},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer server([&](const Request &) { return c.reply; });
    server.addFile("/f.bin", file);
    const RawReply reply = split(get(server.port(), "/f.bin", c.extraRequestLines));
    EXPECT_NE(reply.head.find(c.expectedHeadPart), std::string::npos) << reply.head;
    EXPECT_EQ(reply.body, c.expectedBody);
    if (c.reply.location) {
      EXPECT_NE(reply.head.find("Location: /elsewhere\r\nSet-Cookie: sid=42\r\n"),
                std::string::npos);
    }
  }
}

TEST(FaultServer, OmitsContentLengthAndPadsTheHeader) {
  FaultServer server([](const Request &) {
    return Reply{.omitContentLength = true, .headerSize = 5000};
  });
  server.addFile("/f.bin", "abc");
  const RawReply reply = split(get(server.port(), "/f.bin"));
  EXPECT_EQ(reply.head.find("Content-Length"), std::string::npos);
  EXPECT_EQ(reply.head.size(), 5000u);
  EXPECT_EQ(reply.body, "abc");
}

TEST(FaultServer, RecordsRawRequestsAndProxyTargets) {
  FaultServer server;
  server.addFile("/dir/f.bin", "xyz");
  const std::string raw = "GET http://files.invalid/dir/f.bin HTTP/1.1\r\n"
                          "Host: files.invalid\r\nProxy-Connection: Keep-Alive\r\n\r\n";
  const auto reply = exchange(server.port(), raw, 10s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(split(*reply).body, "xyz");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, raw);
  EXPECT_EQ(requests[0].path, "/dir/f.bin");
}

TEST(FaultServer, SilentReplyHoldsTheConnectionUntilStopped) {
  auto server = std::make_unique<FaultServer>([](const Request &) {
    return Reply{.silent = true};
  });
  server->addFile("/f.bin", "abc");
  // No reply arrives while the server stays silent...
  EXPECT_FALSE(exchange(server->port(), "GET /f.bin HTTP/1.1\r\n\r\n", 300ms));
  // ...and stopping does not hang on the silent connection.
  const auto begin = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
}

TEST(FaultServer, ThrottledBodyTakesItsTime) {
  FaultServer server([](const Request &) { return Reply{.bytesPerSecond = 100000}; });
  server.addFile("/f.bin", patternBytes(30000));
  const auto begin = std::chrono::steady_clock::now();
  const RawReply reply = split(get(server.port(), "/f.bin"));
  // 30000 bytes at 100000 a second cannot come in under 0.2 s.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);
  EXPECT_EQ(reply.body, patternBytes(30000));
}

TEST(RealServers, NginxHonoursRangeAndPythonIgnoresIt) {
  TempDir root("updater-served.");
  const std::string file = patternBytes(50000, 7);
  writeFile(root / "f.bin", file);
  NginxServer nginx(root.path());
  ASSERT_TRUE(nginx.started()) << nginx.log();
  PythonServer python(root.path());
  ASSERT_TRUE(python.started()) << python.log();

  RawReply reply = split(get(nginx.port(), "/f.bin", "Range: bytes=49990-\r\n"));
  EXPECT_NE(reply.head.find("HTTP/1.1 206"), std::string::npos) << reply.head;
  EXPECT_EQ(reply.body, file.substr(49990));
  reply = split(get(nginx.port(), "/f.bin"));
  EXPECT_EQ(reply.body, file);

  reply = split(get(python.port(), "/f.bin", "Range: bytes=49990-\r\n"));
  EXPECT_NE(reply.head.find(" 200 "), std::string::npos) << reply.head;
  EXPECT_EQ(reply.body, file);

  nginx.stop();
  python.stop();
  EXPECT_FALSE(httpGet(nginx.port(), "/f.bin", 1s));
  EXPECT_FALSE(httpGet(python.port(), "/f.bin", 1s));
}

} // namespace
} // namespace testsupport
