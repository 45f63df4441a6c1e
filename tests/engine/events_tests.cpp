// The events a task raises and what the driver can rely on around them:
// their order, arguments and threads for a normal download, a destroy in
// mid-download, the answers to the same-name event, the file name a
// directory save path receives, and the speed limit.
#include "engine/engine_harness.h"
#include "support/fault_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::readFile;
using testsupport::Reply;
using testsupport::Request;
using testsupport::TempDir;
using testsupport::writeFile;

namespace fs = std::filesystem;

// Polls until `condition` holds or `timeout` passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (condition())
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

TEST(Events, ANormalFivePartDownload) {
  constexpr std::int64_t kSize = 5 * 40000 + 3;
  constexpr std::int32_t kBlock = 8192;
  const std::string body = patternBytes(kSize, 21);
  FaultServer server;
  server.addFile("/f.bin", body);
  TempDir dir("updater-engine.");
  const std::string savePath = (dir / "out.bin").string();
  std::vector<Event> events;
  std::vector<LogLine> logs;
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath(savePath);
    run.param().connectionCount = 5;
    run.param().receiveBlockSize = kBlock;
    EXPECT_EQ(run.download().receivedLength(), 0);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFinished()) << run.describe();
    // Nothing is attached once the event-4 callback has returned.
    EXPECT_TRUE(eventually([&] { return run.download().receivedLength() == 0; }, 10s));
    events = run.events();
    logs = run.logs();
  }
  EXPECT_EQ(readFile(savePath), body);
  SCOPED_TRACE(testing::Message() << "events: " << [&] {
    std::string text;
    for (const Event &e : events)
      text += std::to_string(e.code) + "(" + std::to_string(e.a2) + "," +
              std::to_string(e.a3) + "," + std::to_string(e.a4) + ") ";
    return text;
  }());

  ASSERT_FALSE(events.empty());
  const EventArg task = events.front().a5;
  const std::thread::id taskThread = events.back().thread;
  EXPECT_NE(task, 0);
  EXPECT_NE(taskThread, std::this_thread::get_id());
  for (const Event &e : events) {
    EXPECT_EQ(e.a5, task) << "event " << e.code;
    EXPECT_EQ(e.thread, taskThread) << "event " << e.code << " came on another thread";
    EXPECT_NE(e.code, download::kEventConnectionFailed);
    EXPECT_NE(e.code, download::kEventFileExists);
  }

  // Event 3 once, before any block; event 4 once, last.
  std::size_t sizeKnownAt = events.size();
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Event &e = events[i];
    if (e.code == download::kEventSizeKnown) {
      ASSERT_EQ(sizeKnownAt, events.size()) << "event 3 twice";
      sizeKnownAt = i;
      EXPECT_EQ(e.a2, task);
      EXPECT_EQ(e.a3, kSize);
      EXPECT_EQ(e.path, savePath);
    }
    if (e.code == download::kEventBlockReceived) {
      EXPECT_LT(sizeKnownAt, i) << "a block before event 3";
    }
    if (e.code == download::kEventFinished) {
      EXPECT_EQ(i, events.size() - 1) << "event 4 not last";
    }
  }
  EXPECT_EQ(events.back().code, download::kEventFinished);
  EXPECT_EQ(events.back().a2, task);
  EXPECT_EQ(events.back().a3, kSize);

  // Each connection: 5, then 6 for its own part, then its blocks, then 8
  // at the part's end; together they cover the parts exactly once.
  struct Connection {
    std::vector<std::int32_t> codes;
    std::int64_t start = -1;
    std::int64_t end = -1;
    std::int64_t received = 0;
    std::int64_t endedAt = -1;
  };
  std::map<EventArg, Connection> connections;
  std::int64_t total = 0;
  for (const Event &e : events) {
    if (e.code == download::kEventSizeKnown || e.code == download::kEventFinished)
      continue;
    Connection &c = connections[e.a2];
    c.codes.push_back(e.code);
    if (e.code == download::kEventPartBegun) {
      c.start = e.a3;
      c.end = e.a4;
    } else if (e.code == download::kEventBlockReceived) {
      EXPECT_GT(e.a3, 0);
      EXPECT_LE(e.a3, kBlock);
      c.received += e.a3;
      total += e.a3;
    } else if (e.code == download::kEventConnectionEnded) {
      c.endedAt = e.a3;
    }
  }
  EXPECT_EQ(total, kSize);
  ASSERT_EQ(connections.size(), 5u);
  std::set<std::int64_t> starts;
  for (const auto &[handle, c] : connections) {
    SCOPED_TRACE(testing::Message() << "connection " << handle);
    ASSERT_GE(c.codes.size(), 3u);
    EXPECT_EQ(c.codes.front(), download::kEventConnectionStarted);
    EXPECT_EQ(c.codes[1], download::kEventPartBegun);
    EXPECT_EQ(c.codes.back(), download::kEventConnectionEnded);
    for (std::size_t i = 2; i + 1 < c.codes.size(); ++i)
      EXPECT_EQ(c.codes[i], download::kEventBlockReceived);
    EXPECT_EQ(c.received, c.end - c.start);
    EXPECT_EQ(c.endedAt, c.end);
    starts.insert(c.start);
  }
  std::set<std::int64_t> expectedStarts;
  for (const Part &part : splitParts(kSize, 5)) {
    expectedStarts.insert(part.start);
    bool found = false;
    for (const auto &[handle, c] : connections)
      found = found || (c.start == part.start && c.end == part.end);
    EXPECT_TRUE(found) << "no event 6 for the part " << part.start << "-" << part.end;
  }
  EXPECT_EQ(starts, expectedStarts);

  // The status texts come on the task thread too, with their levels.
  EXPECT_FALSE(logs.empty());
  for (const LogLine &line : logs) {
    EXPECT_EQ(line.thread, taskThread) << line.status;
    EXPECT_GE(line.level, 0);
    EXPECT_LE(line.level, 3);
    EXPECT_EQ(line.task, task);
    EXPECT_FALSE(line.status.empty());
  }
}

TEST(Events, DestroyInMidDownload) {
  constexpr std::int64_t kSize = 5 * 200000;
  FaultServer server([](const Request &) { return Reply{.bytesPerSecond = 50000}; });
  server.addFile("/f.bin", patternBytes(kSize, 4));
  TempDir dir("updater-engine.");
  EngineRun run;
  run.setUrl(server.url("/f.bin"));
  run.setSavePath((dir / "out.bin").string());
  run.param().connectionCount = 5;
  run.param().stopWait = 1000;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitFor(download::kEventSizeKnown, 30s)) << run.describe();
  ASSERT_TRUE(eventually([&] { return run.download().receivedLength() > 100000; }, 30s));
  const std::int32_t seen = run.download().receivedLength();

  const auto before = Clock::now();
  run.download().destroy();
  // Destroy waits for the connections a second at most; the bound here only
  // catches a destroy that waits for the whole file.
  EXPECT_LT(Clock::now() - before, 8s);
  EXPECT_EQ(run.download().receivedLength(), 0);

  ASSERT_TRUE(run.waitFinished(30s)) << run.describe();
  std::this_thread::sleep_for(300ms);
  const std::vector<Event> events = run.events();
  EXPECT_EQ(events.back().code, download::kEventFinished) << run.describe();
  const Event finished = events.back();
  EXPECT_GE(finished.a3, seen);
  EXPECT_LT(finished.a3, kSize);
  // Every connection that started ended before event 4.
  std::map<EventArg, int> open;
  for (const Event &e : events) {
    if (e.code == download::kEventConnectionStarted)
      ++open[e.a2];
    if (e.code == download::kEventConnectionEnded || e.code == download::kEventConnectionFailed)
      --open[e.a2];
  }
  for (const auto &[handle, count] : open)
    EXPECT_EQ(count, 0) << "connection " << handle;
  // The file keeps its full length.
  EXPECT_EQ(fs::file_size(dir / "out.bin"), static_cast<std::uintmax_t>(kSize));
}

// A connection waiting for a reply notices a stop long before its receive
// time-out: event 4 follows destroy promptly.
TEST(Events, DestroyWhileWaitingForTheHeader) {
  FaultServer server([](const Request &) { return Reply{.silent = true}; });
  server.addFile("/f.bin", patternBytes(30000));
  TempDir dir("updater-engine.");
  EngineRun run;
  run.setUrl(server.url("/f.bin"));
  run.setSavePath((dir / "out.bin").string());
  run.param().receiveTimeout = 60000;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  const auto before = Clock::now();
  run.download().destroy();
  ASSERT_TRUE(run.waitFinished(20s)) << run.describe();
  EXPECT_LT(Clock::now() - before, 20s);
  EXPECT_EQ(run.finished().a3, 0);
  EXPECT_EQ(run.codes().back(), download::kEventFinished);
  EXPECT_TRUE(run.events(download::kEventSizeKnown).empty());
  EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

TEST(SameName, EachAnswerSettlesTheExistingFile) {
  struct Case {
    const char *name;
    std::int32_t answer;
    std::vector<std::string> existing; // each holds "old contents"
    bool deleteInCallback;
    const char *expected; // the name downloaded to; null: the task fails
  };
  const Case cases[] = {
      {"0 renames", 0, {"temp.temp"}, false, "temp(1).temp"},
      {"0 takes the next free number", 0, {"temp.temp", "temp(1).temp"}, false,
       "temp(2).temp"},
      {"0 numbers before the first dot", 0, {"update.tar.gz"}, false, "update(1).tar.gz"},
      {"2 keeps the path the callback freed", 2, {"temp.temp"}, true, "temp.temp"},
      {"2 with the file still there fails", 2, {"temp.temp"}, false, nullptr},
      {"1 fails", 1, {"temp.temp"}, false, nullptr},
      {"any other answer fails", 7, {"temp.temp"}, false, nullptr},
  };
  constexpr std::int64_t kSize = 30000;
  const std::string old = "old contents";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(kSize, 8);
    FaultServer server;
    server.addFile("/f.bin", body);
    // The directory's own name has a dot, which the numbering must skip.
    TempDir dir("updater-engine.");
    for (const std::string &name : c.existing)
      writeFile(dir / name, old);
    const fs::path target = dir / c.existing.front();
    std::vector<Event> events;
    {
      EngineRun run;
      run.setUrl(server.url("/f.bin"));
      run.setSavePath(target.string());
      run.onFileExists = [&](const Event &) {
        if (c.deleteInCallback)
          fs::remove(target);
        return c.answer;
      };
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished()) << run.describe();
      events = run.events();
    }
    std::vector<Event> exists;
    for (const Event &e : events)
      if (e.code == download::kEventFileExists)
        exists.push_back(e);
    ASSERT_EQ(exists.size(), 1u);
    EXPECT_EQ(exists[0].a2, static_cast<EventArg>(old.size()));
    EXPECT_EQ(exists[0].a3, kSize);
    EXPECT_EQ(exists[0].a4, 0);
    EXPECT_NE(exists[0].thread, events.back().thread) << "event 18 on the task thread";
    EXPECT_EQ(exists[0].a5, events.back().a5);

    std::set<std::string> expectedNames(c.existing.begin(), c.existing.end());
    if (c.expected) {
      const fs::path used = dir / c.expected;
      expectedNames.insert(c.expected);
      EXPECT_EQ(readFile(used), body);
      bool sizeKnown = false;
      for (const Event &e : events) {
        if (e.code == download::kEventSizeKnown) {
          sizeKnown = true;
          EXPECT_EQ(e.path, used.string());
        }
        EXPECT_NE(e.code, download::kEventConnectionFailed);
      }
      EXPECT_TRUE(sizeKnown);
      EXPECT_EQ(events.back().a3, kSize);
    } else {
      bool failed = false;
      for (const Event &e : events) {
        EXPECT_NE(e.code, download::kEventSizeKnown);
        failed = failed || e.code == download::kEventConnectionFailed;
      }
      EXPECT_TRUE(failed);
    }
    // Files already there are never touched, and nothing else appears.
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir.path()))
      names.insert(entry.path().filename().string());
    EXPECT_EQ(names, expectedNames);
    for (const std::string &name : c.existing) {
      if (!(c.deleteInCallback && dir / name == target)) {
        EXPECT_EQ(readFile(dir / name), old) << name;
      }
    }
  }
}

TEST(SavePath, ADirectoryReceivesTheServersOrTheAddressName) {
  struct Case {
    const char *name;
    const char *path;
    std::vector<std::string> extraLines;
    const char *expected;
  };
  const Case cases[] = {
      {"address name decoded", "/files/my%20new+file%21.zip", {}, "my new file!.zip"},
      {"Content-Disposition", "/files/get.php",
       {"Content-Disposition: attachment; filename=\"pick.zip\""}, "pick.zip"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = patternBytes(25000, 6);
    FaultServer server([&](const Request &) { return Reply{.extraLines = c.extraLines}; });
    server.addFile(c.path, body);
    TempDir dir("updater-engine.");
    {
      EngineRun run;
      run.setUrl(server.url(c.path));
      run.setSavePath(dir.path().string() + "/");
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(run.waitFinished()) << run.describe();
      const auto sizeKnown = run.events(download::kEventSizeKnown);
      ASSERT_EQ(sizeKnown.size(), 1u) << run.describe();
      EXPECT_EQ(sizeKnown[0].path, (dir / c.expected).string());
    }
    EXPECT_EQ(readFile(dir / c.expected), body);
  }
}

// With a limit, each connection takes its share once a second; measured
// between two instants half-way between those seconds, the rate is the
// limit within 10 %.
TEST(SpeedLimit, HoldsOverSeveralSeconds) {
  constexpr std::int32_t kLimit = 50000;
  constexpr std::int64_t kSize = 5 * 80000;
  const std::string body = patternBytes(kSize, 12);
  FaultServer server;
  server.addFile("/f.bin", body);
  TempDir dir("updater-engine.");
  {
    EngineRun run;
    run.setUrl(server.url("/f.bin"));
    run.setSavePath((dir / "out.bin").string());
    run.param().connectionCount = 5;
    run.param().speedLimit = kLimit;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitFor(download::kEventBlockReceived, 30s)) << run.describe();
    const Clock::time_point first = run.events(download::kEventBlockReceived).front().at;
    std::this_thread::sleep_until(first + 1500ms);
    const std::int32_t early = run.download().receivedLength();
    const Clock::time_point earlyAt = Clock::now();
    std::this_thread::sleep_until(first + 4500ms);
    const std::int32_t late = run.download().receivedLength();
    const double seconds = std::chrono::duration<double>(Clock::now() - earlyAt).count();
    ASSERT_TRUE(run.waitFinished(60s)) << run.describe();
    // The blocks received in each second since the first, for the message.
    std::map<long long, EventArg> perSecond;
    for (const Event &e : run.events(download::kEventBlockReceived))
      perSecond[std::chrono::duration_cast<std::chrono::seconds>(e.at - first).count()] += e.a3;
    std::string histogram;
    for (const auto &[second, bytes] : perSecond)
      histogram += std::to_string(second) + "s: " + std::to_string(bytes) + "  ";
    const double rate = (late - early) / seconds;
    EXPECT_GE(rate, kLimit * 0.9) << late - early << " bytes in " << seconds << " s; "
                                  << histogram;
    EXPECT_LE(rate, kLimit * 1.1) << late - early << " bytes in " << seconds << " s; "
                                  << histogram;
    EXPECT_EQ(run.finished().a3, kSize);
  }
  EXPECT_EQ(readFile(dir / "out.bin"), body);
}

} // namespace
} // namespace enginetest
