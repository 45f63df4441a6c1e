// Downloads from real servers on loopback: nginx, which honours Range, and
// Python's http.server, which ignores it. The file must arrive byte for
// byte over one connection and over five.
#include "engine/engine_harness.h"
#include "support/nginx_server.h"
#include "support/python_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using testsupport::NginxServer;
using testsupport::patternBytes;
using testsupport::PythonServer;
using testsupport::readFile;
using testsupport::TempDir;

constexpr std::int64_t kSize = 1024 * 1024 + 123;

// Downloads `url` into `dir`/out.bin and checks the events that must hold
// whatever the server.
void fetch(const std::string &url, const TempDir &dir, int connections, bool rangesHonoured) {
  EngineRun run;
  run.setUrl(url);
  run.setSavePath((dir / "out.bin").string());
  run.param().connectionCount = connections;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitFinished(90s)) << run.describe();
  EXPECT_EQ(run.finished().a3, kSize);
  EXPECT_EQ(run.events(download::kEventSizeKnown).size(), 1u);
  if (rangesHonoured) {
    EXPECT_TRUE(run.events(download::kEventConnectionFailed).empty()) << run.describe();
    EXPECT_EQ(run.events(download::kEventConnectionStarted).size(),
              static_cast<std::size_t>(connections));
  }
}

TEST(RealServers, NginxServesTheFileByteForByte) {
  TempDir served("updater-served.");
  const std::string body = patternBytes(kSize, 31);
  testsupport::writeFile(served / "update.zip", body);
  NginxServer nginx(served.path());
  ASSERT_TRUE(nginx.started()) << nginx.log();
  for (int connections : {1, 5}) {
    SCOPED_TRACE(connections);
    TempDir dir("updater-engine.");
    fetch(nginx.url("/update.zip"), dir, connections, true);
    EXPECT_EQ(readFile(dir / "out.bin"), body);
  }
}

TEST(RealServers, PythonHttpServerIgnoringRangeServesTheFileByteForByte) {
  TempDir served("updater-served.");
  const std::string body = patternBytes(kSize, 32);
  testsupport::writeFile(served / "update.zip", body);
  PythonServer python(served.path());
  ASSERT_TRUE(python.started()) << python.log();
  for (int connections : {1, 5}) {
    SCOPED_TRACE(connections);
    TempDir dir("updater-engine.");
    fetch(python.url("/update.zip"), dir, connections, false);
    EXPECT_EQ(readFile(dir / "out.bin"), body);
  }
}

} // namespace
} // namespace enginetest
