// What the engine sends and which replies it refuses, checked against the
// fault-injecting server: the request lines byte for byte, the proxy
// variant, redirects with their cookie, and the replies that fail a
// connection for good.
#include "engine/engine_harness.h"
#include "support/fault_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::Reply;
using testsupport::Request;
using testsupport::TempDir;

constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";

// The lines a direct request must carry, in order.
std::string directRequest(const std::string &path, const std::string &host,
                          const std::string &referer, std::optional<std::int64_t> range) {
  std::string text = "GET " + path + " HTTP/1.1\r\nHost: " + host +
                     "\r\nAccept: */*\r\nReferer: " + referer + "\r\nUser-Agent: " + kUserAgent +
                     "\r\n";
  if (range)
    text += "Range: bytes=" + std::to_string(*range) + "-\r\n";
  return text + "Pragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
}

TEST(RequestLines, AreExactForTheFirstAndEveryFurtherPart) {
  struct Case {
    const char *name;
    std::size_t size;
    int connections;
    const char *referer; // null: the engine derives it from the address
  };
  const Case cases[] = {
      {"one connection, derived referer", 10000, 1, nullptr},
      {"one connection, given referer", 10000, 1, "http://pages.invalid/from/here.html"},
      {"five parts", 5 * 30000 + 7, 5, nullptr},
      {"small file over five connections is one part", 20479, 5, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(c.size);
    FaultServer server;
    server.addFile("/dir/sub/f.bin", body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url("/dir/sub/f.bin"));
      run.setSavePath((dir / "out.bin").string());
      run.param().connectionCount = c.connections;
      if (c.referer)
        download::setText(run.param().referer, c.referer);
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished()) << run.describe();
      EXPECT_TRUE(run.events(download::kEventConnectionFailed).empty()) << run.describe();
    }
    EXPECT_EQ(readFile(dir / "out.bin"), body);

    const std::string referer = c.referer ? c.referer : server.url("/dir/sub");
    const std::vector<Part> parts = splitParts(static_cast<std::int64_t>(c.size), c.connections);
    const std::vector<Request> requests = server.requests();
    ASSERT_EQ(requests.size(), parts.size());
    // The first request asks for the whole file; each further part is asked
    // for from its start, in whatever order the connections got there.
    EXPECT_EQ(requests[0].raw, directRequest("/dir/sub/f.bin", server.hostPort(), referer, {}));
    for (std::size_t i = 1; i < parts.size(); ++i) {
      bool found = false;
      for (const Request &request : requests)
        found = found || request.raw == directRequest("/dir/sub/f.bin", server.hostPort(),
                                                      referer, parts[i].start);
      EXPECT_TRUE(found) << "no exact request for part " << i + 1;
    }
  }
}

TEST(RequestLines, ThroughAProxyCarryTheWholeAddress) {
  const std::string body = patternBytes(5000);
  FaultServer proxy;
  proxy.addFile("/files/f.bin", body);
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    // The host does not exist: only the proxy may be asked for it.
    run.setUrl("http://files.invalid:8080/files/f.bin");
    run.setSavePath((dir / "out.bin").string());
    download::setText(run.param().httpProxy, proxy.hostPort());
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished()) << run.describe();
  }
  EXPECT_EQ(readFile(dir / "out.bin"), body);
  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, std::string("GET http://files.invalid:8080/files/f.bin HTTP/1.1\r\n"
                                         "Host: files.invalid:8080\r\n"
                                         "User-Agent: ") +
                                 kUserAgent + "\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(Redirects, AreFollowedWithTheirCookie) {
  struct Case {
    const char *name;
    int status;
    std::string location; // "@" stands for the server's own address
    const char *cookie;
    const char *expectedPath;
  };
  const Case cases[] = {
      {"301 absolute with cookie", 301, "@/b/target.bin", "sid=abc123", "/b/target.bin"},
      {"302 absolute path", 302, "/b/target.bin", nullptr, "/b/target.bin"},
      {"302 relative to the current path", 302, "target.bin", "k=v", "/a/target.bin"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(30000, 3);
    FaultServer server;
    std::string location = c.location;
    if (location[0] == '@')
      location = server.url(location.substr(1));
    server.setScript([&](const Request &request) {
      Reply reply;
      if (request.path == "/a/start.bin") {
        reply.status = c.status;
        reply.location = location;
        if (c.cookie)
          reply.setCookie = std::string(c.cookie) + "; Path=/";
      }
      return reply;
    });
    server.addFile(c.expectedPath, body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url("/a/start.bin"));
      run.setSavePath((dir / "out.bin").string());
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished()) << run.describe();
      EXPECT_EQ(run.finished().a3, 30000);
    }
    EXPECT_EQ(readFile(dir / "out.bin"), body);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, c.expectedPath);
    if (c.cookie) {
      EXPECT_EQ(requests[1].header("Cookie"), c.cookie) << requests[1].raw;
    } else {
      EXPECT_FALSE(requests[1].header("Cookie")) << requests[1].raw;
    }
  }
}

TEST(Redirects, ALoopEndsAfterTwentyFollowed) {
  FaultServer server([](const Request &) {
    return Reply{.status = 302, .location = "/loop.bin"};
  });
  TempDir dir("updater-engine.");
  EngineRun run;
  run.setUrl(server.url("/loop.bin"));
  run.setSavePath((dir / "out.bin").string());
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitFinished(30s)) << "a redirect loop never ended: " << run.describe();
  EXPECT_EQ(run.events(download::kEventConnectionFailed).size(), 1u) << run.describe();
  // The first request and twenty redirects followed.
  EXPECT_GE(server.requests().size(), 20u);
  EXPECT_LE(server.requests().size(), 21u);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
}

// Each of these first replies fails the connection for good: no retry, no
// file, event 9 and then event 4 with no length.
TEST(RefusedReplies, FailTheTaskWithoutRetryOrFile) {
  struct Case {
    const char *name;
    Reply reply;
  };
  const Case cases[] = {
      {"404", {.status = 404}},
      {"403", {.status = 403}},
      {"500", {.status = 500}},
      {"header of 4098 bytes", {.headerSize = 4098}},
      {"no Content-Length", {.omitContentLength = true}},
      {"Content-Length not a number", {.contentLength = "abc"}},
      {"Content-Length with trailing text", {.contentLength = "100000x"}},
      {"Content-Length negative", {.contentLength = "-5"}},
      {"Content-Length over 32 bits", {.contentLength = "4294967396"}},
      {"Content-Length twice, different", {.extraLines = {"Content-Length: 99999"}}},
      {"redirect to ftp", {.status = 302, .location = "ftp://127.0.0.1/f.bin"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer server([&](const Request &) { return c.reply; });
    server.addFile("/f.bin", patternBytes(100000));
    TempDir dir("updater-engine.");
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished(30s)) << run.describe();
    EXPECT_EQ(run.events(download::kEventConnectionFailed).size(), 1u) << run.describe();
    EXPECT_TRUE(run.events(download::kEventSizeKnown).empty()) << run.describe();
    EXPECT_EQ(run.finished().a3, 0);
    EXPECT_EQ(run.codes().back(), download::kEventFinished);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  }
}

TEST(RefusedReplies, AHeaderOfExactly4097BytesIsAccepted) {
  const std::string body = patternBytes(3000);
  FaultServer server([](const Request &) { return Reply{.headerSize = 4097}; });
  server.addFile("/f.bin", body);
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished()) << run.describe();
  }
  EXPECT_EQ(readFile(dir / "out.bin"), body);
}

// Replies that are valid but arrive in an unusual shape.
TEST(UnusualReplies, AreAccepted) {
  constexpr std::size_t kSize = 5 * 21000;
  struct Case {
    const char *name;
    int connections;
    Reply reply;
  };
  const Case cases[] = {
      {"header in 7-byte pieces", 1, {.headerPiece = 7}},
      {"range replies' headers in 3-byte pieces", 5, {.headerPiece = 3}},
      {"HTTP/1.0 status line", 1, {.version = "HTTP/1.0"}},
      {"lower-case field name", 1,
       {.omitContentLength = true,
        .extraLines = {"content-length: " + std::to_string(kSize)}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(kSize, 14);
    FaultServer server([&](const Request &) { return c.reply; });
    server.addFile("/f.bin", body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url("/f.bin"));
      run.setSavePath((dir / "out.bin").string());
      run.param().connectionCount = c.connections;
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished()) << run.describe();
      EXPECT_TRUE(run.events(download::kEventConnectionFailed).empty()) << run.describe();
      EXPECT_EQ(run.finished().a3, static_cast<EventArg>(kSize));
    }
    EXPECT_EQ(readFile(dir / "out.bin"), body);
  }
}

TEST(AddTask, RefusesBadAddressesWithoutAnEvent) {
  const char *const refused[] = {
      "gopher://127.0.0.1/f.bin",
      "http://127.0.0.1",
      "127.0.0.1/f.bin",
      "",
  };
  for (const char *url : refused) {
    SCOPED_TRACE(url);
    EngineRun run;
    run.setUrl(url);
    run.setSavePath("/nonexistent-dir/out.bin");
    EXPECT_FALSE(run.start());
    EXPECT_EQ(run.download().receivedLength(), 0);
    EXPECT_FALSE(run.waitFinished(200ms));
    EXPECT_TRUE(run.events().empty());
  }
}

TEST(AddTask, OtherSchemesEndAtOnceWithFailure) {
  const char *const others[] = {"FTP://user:pw@127.0.0.1/f.bin", "mms://127.0.0.1/f",
                                "mmst://127.0.0.1/f", "rtsp://127.0.0.1/f"};
  for (const char *url : others) {
    SCOPED_TRACE(url);
    EngineRun run;
    run.setUrl(url);
    run.setSavePath("/nonexistent-dir/out.bin");
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished(10s));
    const std::vector<std::int32_t> codes = run.codes();
    ASSERT_GE(codes.size(), 2u) << run.describe();
    EXPECT_EQ(codes[codes.size() - 2], download::kEventConnectionFailed) << run.describe();
    EXPECT_EQ(codes.back(), download::kEventFinished);
  }
}

TEST(AddTask, RefusesASecondTaskAndAnUploadDoesNothing) {
  FaultServer server([](const Request &) { return Reply{.bytesPerSecond = 20000}; });
  server.addFile("/f.bin", patternBytes(40000));
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    ASSERT_TRUE(run.start());
    EXPECT_FALSE(run.start());
    ASSERT_TRUE(run.waitFinished()) << run.describe();
    EXPECT_EQ(run.events(download::kEventSizeKnown).size(), 1u) << run.describe();
  }
  {
    // The upload bit with the download bit the engine adds: registered,
    // reported as success, and nothing else happens.
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "upload.bin").string());
    run.param().flags = download::kFlagUpload;
    ASSERT_TRUE(run.start());
    EXPECT_FALSE(run.waitFinished(500ms));
    EXPECT_TRUE(run.events().empty()) << run.describe();
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "upload.bin"));
  }
}

} // namespace
} // namespace enginetest
