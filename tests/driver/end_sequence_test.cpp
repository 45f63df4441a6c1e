// The ways the process ends, each in a child process of its own.
#include "driver/globals.h"
#include "driver/program.h"
#include "process/process.h"
#include "ui/recording/recording_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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
  while (!gBackend || gBackend->records().empty() ||
         gBackend->records().front().rfind("show", 0) != 0)
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

} // namespace
