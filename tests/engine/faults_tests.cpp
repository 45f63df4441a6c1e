// Faults in the middle of a transfer: connections that break and are
// retried from where they stopped, replies that would put bytes in the
// wrong place, and a server that ignores Range. Each fault is scripted to
// happen once, so every test ends with the whole file, byte for byte.
#include "engine/engine_harness.h"
#include "support/fault_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::Reply;
using testsupport::Request;
using testsupport::TempDir;

struct RetryCase {
  const char *name;
  std::size_t size;
  int connections;
  std::int32_t receiveTimeout;
  // The fault, for the first request that matches.
  std::function<bool(const Request &)> matches;
  Reply fault;
  // A later request must ask for the broken part from an offset in
  // (from, to]; from < 0 skips the check.
  std::int64_t from;
  std::int64_t to;
};

void PrintTo(const RetryCase &c, std::ostream *out) { *out << c.name; }

class Retries : public testing::TestWithParam<RetryCase> {};

TEST_P(Retries, ResumeWhereTheConnectionStopped) {
  const RetryCase &c = GetParam();
  const std::string body = patternBytes(c.size, 11);
  FaultServer server([&, done = false](const Request &request) mutable {
    if (done || !c.matches(request))
      return Reply{};
    done = true;
    return c.fault;
  });
  server.addFile("/f.bin", body);
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    run.param().connectionCount = c.connections;
    run.param().receiveTimeout = c.receiveTimeout;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished(60s)) << run.describe();
    EXPECT_TRUE(run.events(download::kEventConnectionFailed).empty()) << run.describe();
    EXPECT_EQ(run.finished().a3, static_cast<EventArg>(c.size));
  }
  EXPECT_EQ(readFile(dir / "out.bin"), body);
  const auto requests = server.requests();
  EXPECT_EQ(requests.size(), splitParts(static_cast<std::int64_t>(c.size), c.connections).size() + 1)
      << "exactly one retry";
  if (c.from >= 0) {
    bool resumed = false;
    for (const Request &request : requests)
      resumed = resumed || (request.rangeStart && *request.rangeStart > c.from &&
                            *request.rangeStart <= c.to);
    EXPECT_TRUE(resumed) << "no request resumed the broken part in (" << c.from << ", "
                         << c.to << "]";
  }
}

bool firstRequest(const Request &request) { return request.index == 0; }
bool thirdPart(const Request &request) { return request.rangeStart == 60000; }

INSTANTIATE_TEST_SUITE_P(
    Engine, Retries,
    testing::Values(
        RetryCase{"dropped in mid-body, one connection", 100000, 1, 10000, firstRequest,
                  Reply{.closeAfter = 30000}, 0, 30000},
        RetryCase{"short body of a further part", 5 * 30000, 5, 10000, thirdPart,
                  Reply{.closeAfter = 10000}, 60000, 70000},
        RetryCase{"silence before the header", 50000, 1, 1000, firstRequest,
                  Reply{.silent = true}, -1, 0}),
    [](const testing::TestParamInfo<RetryCase> &info) {
      std::string name;
      for (const char *p = info.param.name; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
          name += *p;
      return name;
    });

// A further part's reply that is wrong in a way that would put bytes at the
// wrong place, or that cannot be trusted, must never reach the file. The
// first part is sent slowly, so the first connection is still busy when the
// fault happens and can take over the part afterwards if the engine gives
// it up.
TEST(WrongPartReplies, NeverReachTheFile) {
  struct Case {
    const char *name;
    Reply fault;
  };
  const Case cases[] = {
      {"Content-Range starting elsewhere", {.contentRangeStart = 1000}},
      {"Content-Length not a number", {.contentLength = "abc"}},
      {"Content-Length twice, different", {.extraLines = {"Content-Length: 7"}}},
  };
  constexpr std::size_t kSize = 5 * 25000;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(kSize, 5);
    FaultServer server([&, done = false](const Request &request) mutable {
      if (!request.rangeStart)
        return Reply{.bytesPerSecond = 25000};
      if (*request.rangeStart == 25000 && !done) {
        done = true;
        return c.fault;
      }
      return Reply{};
    });
    server.addFile("/f.bin", body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url("/f.bin"));
      run.setSavePath((dir / "out.bin").string());
      run.param().connectionCount = 5;
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished(60s)) << run.describe();
      EXPECT_EQ(run.finished().a3, static_cast<EventArg>(kSize));
    }
    EXPECT_EQ(readFile(dir / "out.bin"), body);
    int askedForPart2 = 0;
    for (const Request &request : server.requests())
      askedForPart2 += request.rangeStart == 25000;
    EXPECT_GE(askedForPart2, 2) << "the part was not fetched again";
  }
}

// A part whose every request is refused stays zero; the rest of the file
// is whole, and the task still ends with the file's length.
TEST(PartFailedForGood, LeavesZerosWhereItBelongs) {
  constexpr std::size_t kSize = 5 * 30000;
  const std::string body = patternBytes(kSize, 15);
  FaultServer server([](const Request &request) {
    return request.rangeStart == 60000 ? Reply{.status = 404} : Reply{};
  });
  server.addFile("/f.bin", body);
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    run.param().connectionCount = 5;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished(60s)) << run.describe();
    EXPECT_FALSE(run.events(download::kEventConnectionFailed).empty()) << run.describe();
    EXPECT_EQ(run.finished().a3, static_cast<EventArg>(kSize));
  }
  std::string expected = body;
  std::fill(expected.begin() + 60000, expected.begin() + 90000, '\0');
  const std::string file = readFile(dir / "out.bin");
  ASSERT_EQ(file.size(), kSize);
  EXPECT_TRUE(file == expected) << "the file differs from the served one outside the failed part "
                                   "or holds bytes inside it";
}

// A server that answers every range request with the whole file still
// yields the whole file, with one connection or five.
TEST(RangeIgnored, StillYieldsTheWholeFile) {
  for (int connections : {1, 5}) {
    SCOPED_TRACE(connections);
    const std::string body = patternBytes(150000, 9);
    FaultServer server([](const Request &) { return Reply{.ignoreRange = true}; });
    server.addFile("/f.bin", body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url("/f.bin"));
      run.setSavePath((dir / "out.bin").string());
      run.param().connectionCount = connections;
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished(60s)) << run.describe();
      EXPECT_EQ(run.finished().a3, 150000);
    }
    EXPECT_EQ(readFile(dir / "out.bin"), body);
    // At most one extra pass over the file: the first reply, one reply per
    // further part that showed the range was ignored, and one whole-file
    // reply to finish from.
    EXPECT_LE(server.requests().size(), 1u + 4u + 1u);
  }
}

} // namespace
} // namespace enginetest
