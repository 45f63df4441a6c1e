// The ways the process ends, each in a child process of its own.
#include "driver/globals.h"
#include "driver/handlers.h"
#include "driver/program.h"
#include "process/process.h"
#include "ui/recording/recording_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace {

using testing::HasSubstr;
using testing::Not;

ui::RecordingBackend *gBackend = nullptr;

// Reports, once the exit routine has run, what the window presented and
// whether every text of the record was released.
void report() {
  std::string out;
  for (const auto &record : gBackend->records())
    out += record + "|";
  std::fprintf(stderr, "records: %s\nlive texts: %zu\n", out.c_str(),
               process::liveTextCount());
}

// Starts the program with `arguments`, recording what the window shows.
[[noreturn]] void runProgram(std::vector<std::string> arguments,
                             void (*meanwhile)() = nullptr) {
  std::vector<char *> argv{const_cast<char *>("updater")};
  for (auto &argument : arguments)
    argv.push_back(argument.data());
  process::captureArguments(static_cast<int>(argv.size()), argv.data());
  gBackend = new ui::RecordingBackend();
  process::addShutdownRoutine(report);
  if (meanwhile)
    std::thread(meanwhile).detach();
  process::endProcess(
      driver::programStart(std::unique_ptr<ui::Backend>(gBackend)));
}

// Waits until the window has been shown.
void waitUntilShown() {
  auto shown = [] {
    if (!gBackend)
      return false;
    for (const auto &record : gBackend->records())
      if (record.rfind("show ", 0) == 0)
        return true;
    return false;
  };
  while (!shown())
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

class EndSequence : public testing::Test {
protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(EndSequence, NoArgumentsEndsInsideTheLoadWithoutShowingTheWindow) {
  EXPECT_EXIT(runProgram({}), testing::ExitedWithCode(0),
              testing::AllOf(HasSubstr("records: destroy|\n"),
                             HasSubstr("live texts: 0\n")));
}

TEST_F(EndSequence, AnyOtherArgumentLeavesTheIdleWindowUntilClosed) {
  for (const char *argument : {"x", "-G", "-gx", "/g", ""}) {
    SCOPED_TRACE(argument);
    EXPECT_EXIT(runProgram({argument, "-g"},
                           [] {
                             waitUntilShown();
                             std::this_thread::sleep_for(
                                 std::chrono::milliseconds(50));
                             gBackend->requestClose();
                           }),
                testing::ExitedWithCode(0),
                testing::AllOf(HasSubstr("records: show 软件更新 0|destroy|\n"),
                               HasSubstr("live texts: 0\n")));
  }
}

TEST_F(EndSequence, EndRequestFromAnotherThreadEndsWithItsCode) {
  EXPECT_EXIT(runProgram({"x"},
                         [] {
                           waitUntilShown();
                           process::endProcess(7);
                         }),
              testing::ExitedWithCode(7),
              testing::AllOf(HasSubstr("destroy|\n"), HasSubstr("live texts: 0\n")));
}

int gReleased = 0;

TEST_F(EndSequence, RacingEndRequestsRunTheExitRoutineOnce) {
  // The program's own exit routine is replaced by one that counts, after
  // the window is shown; both requests then race each other and the user's
  // close.
  auto race = [] {
    waitUntilShown();
    process::registerExitRoutine([] {
      ++gReleased;
      std::fprintf(stderr, "exit routine %d\n", gReleased);
    });
    std::thread first([] { process::endProcess(3); });
    std::thread second([] { process::endProcess(5); });
    gBackend->requestClose();
    first.join();
    second.join();
  };
  for (int round = 0; round < 5; ++round) {
    EXPECT_EXIT(runProgram({"x"}, race),
                [](int status) {
                  return WIFEXITED(status) &&
                         (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3 ||
                          WEXITSTATUS(status) == 5);
                },
                testing::AllOf(HasSubstr("exit routine 1\n"),
                               Not(HasSubstr("exit routine 2"))));
  }
}

TEST_F(EndSequence, UpdateSwitchConfiguresTheTaskAndStartsTheTimer) {
  // A leftover archive of an earlier run goes before the download starts.
  std::ofstream(driver::archivePath()) << "an old, broken download";
  EXPECT_EXIT(
      runProgram({"-g", "ignored"},
                 [] {
                   waitUntilShown();
                   const download::TaskParam &p = *driver::taskParam;
                   std::fprintf(
                       stderr,
                       "flags %d url %s stop %d connections %d save %s "
                       "timeouts %d %d %d block %d callback %d leftover %d\n",
                       p.flags, p.url == driver::kUpdateUrl ? "constant" : "copy",
                       p.stopWait, p.connectionCount,
                       p.savePath == driver::archivePath() ? "ok" : p.savePath,
                       p.connectTimeout, p.sendTimeout, p.receiveTimeout,
                       p.receiveBlockSize,
                       p.eventCallback == &driver::handleDownloadEvent,
                       std::filesystem::exists(driver::archivePath()));
                   process::endProcess(0);
                 }),
      testing::ExitedWithCode(0),
      testing::AllOf(
          HasSubstr("flags 4096 url constant stop 1000 connections 5 save ok "
                    "timeouts 5000 5000 10000 block 10240 callback 1 leftover 0\n"),
          // The timer starts before the window is shown.
          HasSubstr("records: timer 10|show 软件更新 0|")));
  std::filesystem::remove(driver::archivePath());
}

TEST_F(EndSequence, IncompleteDownloadIsReportedAndNotInstalled) {
  // The engine announced 1000 bytes, but none arrived: nothing is unpacked,
  // the download is deleted, the user is told and the exit code is 1.
  const std::string archive =
      (std::filesystem::temp_directory_path() / "updater-incomplete.zip").string();
  static std::string gArchive;
  gArchive = archive;
  std::ofstream(archive) << std::string(1000, '\0');
  EXPECT_EXIT(runProgram({"x"},
                         [] {
                           waitUntilShown();
                           driver::handleDownloadEvent(
                               download::kEventSizeKnown, 0, 1000,
                               reinterpret_cast<download::EventArg>(gArchive.c_str()), 0);
                           driver::handleDownloadEvent(download::kEventFinished, 0, 1000,
                                                       0, 0);
                         }),
              testing::ExitedWithCode(1),
              testing::AllOf(HasSubstr("records: show 软件更新 0|message warning 信息： 更新失败，请稍后重试！|destroy|"),
                             Not(HasSubstr("正在安装"))));
  EXPECT_FALSE(std::filesystem::exists(archive));
}

} // namespace
