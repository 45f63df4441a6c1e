#include "driver/globals.h"
#include "process/process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const char *member) { return member ? member : "(none)"; }

TEST(Globals, RecordStartsAtItsDefaults) {
  const auto textsBefore = process::liveTextCount();
  driver::initGlobals();
  const download::TaskParam &p = *driver::taskParam;
  EXPECT_EQ(p.flags, 1);
  EXPECT_EQ(text(p.url), "");
  EXPECT_EQ(text(p.savePath), "");
  EXPECT_EQ(text(p.userName), "anonymous");
  EXPECT_EQ(std::string(p.password).size(), 17u);
  EXPECT_NE(std::string(p.password).find('@'), std::string::npos);
  EXPECT_EQ(p.connectionCount, 1);
  EXPECT_EQ(p.speedLimit, 0);
  EXPECT_EQ(p.connectTimeout, 20000);
  EXPECT_EQ(p.sendTimeout, 20000);
  EXPECT_EQ(p.receiveTimeout, 20000);
  EXPECT_EQ(p.stopWait, 1000);
  EXPECT_EQ(p.receiveBlockSize, 20480);
  EXPECT_EQ(p.sendBlockSize, 1024);
  EXPECT_EQ(p.logCallback, nullptr);
  EXPECT_EQ(p.eventCallback, nullptr);
  EXPECT_EQ(text(p.altRemoteName), "");
  EXPECT_EQ(p.transferType, 1);
  EXPECT_EQ(text(p.binaryExtensions), ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm");
  EXPECT_EQ(text(p.httpProxy), "(none)");
  EXPECT_EQ(text(p.referer), "(none)");
  // Six default texts, each an owned copy of its own.
  EXPECT_EQ(process::liveTextCount(), textsBefore + 6);
  EXPECT_NE(p.url, p.savePath);
  driver::releaseGlobals();
  EXPECT_EQ(process::liveTextCount(), textsBefore);
}

TEST(Globals, ReleasingLeavesConstantAndAbsentTextsAlone) {
  static const char kAddress[] = "http://127.0.0.1/files/velmarost.zip";
  const auto textsBefore = process::liveTextCount();
  driver::initGlobals();
  download::TaskParam &p = *driver::taskParam;
  download::referText(p.url, kAddress);       // the owned "" is released
  download::setText(p.savePath, "/opt/app/temp.temp");
  download::setText(p.httpProxy, "proxy:8080"); // was absent
  EXPECT_EQ(std::string(p.url), kAddress);
  EXPECT_EQ(process::liveTextCount(), textsBefore + 6);
  driver::releaseGlobals(); // must not free the constant
  EXPECT_EQ(process::liveTextCount(), textsBefore);
  EXPECT_EQ(std::string(kAddress), "http://127.0.0.1/files/velmarost.zip");

  // Releasing null or a text that was never allocated does nothing.
  process::releaseBlock(nullptr);
  process::releaseBlock(kAddress);
}

} // namespace
