#include "ui/recording/recording_backend.h"
#include "ui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Records = std::vector<std::string>;

// The window and its recording backend, loaded on this thread, which the
// process services then take as the window thread.
struct LoadedWindow {
  ui::RecordingBackend *backend = new ui::RecordingBackend();
  ui::Window window{std::unique_ptr<ui::Backend>(backend)};

  explicit LoadedWindow(ui::Bindings bindings = {}) {
    process::initialise(&window);
    window.load(bindings);
  }
  ~LoadedWindow() { process::initialise(nullptr); }
};

std::size_t indexOf(const Records &records, const std::string &entry) {
  return static_cast<std::size_t>(
      std::find(records.begin(), records.end(), entry) - records.begin());
}

ui::RecordingBackend *gLoadingBackend = nullptr;
Records gSeenByCreated;

TEST(Window, CreatedEventRunsBeforeTheWindowIsShown) {
  ui::Bindings bindings;
  bindings.created = [] { gSeenByCreated = gLoadingBackend->records(); };
  auto *backend = new ui::RecordingBackend();
  gLoadingBackend = backend;
  ui::Window window{std::unique_ptr<ui::Backend>(backend)};
  process::initialise(&window);
  window.load(bindings);
  process::initialise(nullptr);

  EXPECT_TRUE(gSeenByCreated.empty());
  EXPECT_EQ(backend->records(), Records{"show 软件更新 0"});
  EXPECT_EQ(window.title(), "软件更新");
}

TEST(Window, WritesShowClampedValues) {
  LoadedWindow w;
  w.window.setBarPosition(-5);
  w.window.setBarPosition(150);
  w.window.setBarPosition(32768);
  w.window.setTitle("");
  EXPECT_EQ(w.window.bar().position(), 32767);
  // Only what changes on the screen is drawn again.
  const Records expected = {"show 软件更新 0", "position 100", "title "};
  EXPECT_EQ(w.backend->records(), expected);
}

TEST(Window, WriteFromAnotherThreadIsAppliedBeforeItReturns) {
  LoadedWindow w;
  std::atomic<int> positionSeen{-1};
  std::string titleSeen;
  std::thread other([&] {
    w.window.setBarPosition(42);
    positionSeen = w.window.bar().position();
    w.window.setTitle("正在安装更新文件：42%");
    titleSeen = w.window.title();
    w.backend->requestClose();
  });
  w.window.runMessageLoop(); // until the other thread closes the window
  other.join();
  EXPECT_EQ(positionSeen, 42);
  EXPECT_EQ(titleSeen, "正在安装更新文件：42%");
  const Records records = w.backend->records();
  EXPECT_LT(indexOf(records, "position 42"), indexOf(records, "destroy"));
  EXPECT_LT(indexOf(records, "title 正在安装更新文件：42%"),
            indexOf(records, "destroy"));
  EXPECT_FALSE(w.window.exists());
}

// The install progress writes the same bar and title for many entries in a
// row from another thread: such writes must not wait for the window thread.
TEST(Window, UnchangedWriteFromAnotherThreadNeedsNoWindowThread) {
  LoadedWindow w;
  w.window.setBarPosition(150); // stored as 150, shown as 100
  w.window.setTitle("正在安装更新文件：7%");
  std::atomic<bool> done{false};
  std::thread other([&] {
    w.window.setBarPosition(150);
    w.window.setTitle("正在安装更新文件：7%");
    done = true;
  });
  // The window thread runs no loop meanwhile: a write handed over to it
  // would wait until the loop below runs.
  for (int i = 0; i < 500 && !done; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool returnedAlone = done;
  w.backend->requestClose();
  w.window.runMessageLoop();
  w.window.releaseWindows(); // fails a write still waiting, as the end does
  other.join();
  EXPECT_TRUE(returnedAlone);
}

TEST(Window, WritesAfterTheWindowIsGoneDoNothing) {
  LoadedWindow w;
  w.backend->requestClose();
  w.window.runMessageLoop();
  const auto before = w.backend->records().size();

  w.window.setTitle("late");
  w.window.setTimerPeriod(10);
  w.window.releaseToolkit();
  std::thread other([&] { w.window.setBarPosition(7); });
  other.join();
  EXPECT_EQ(w.backend->records().size(), before);
}

std::atomic<int> gTicks{0};
ui::Window *gTickWindow = nullptr;

TEST(Window, TimerTicksOnTheWindowThreadUntilStopped) {
  ui::Bindings bindings;
  bindings.tick = [] {
    EXPECT_TRUE(process::onWindowThread());
    if (++gTicks == 3) {
      gTickWindow->setTimerPeriod(-1); // stops it
      gTickWindow->setTitle("stopped");
    }
  };
  LoadedWindow w(bindings);
  gTickWindow = &w.window;
  w.window.setTimerPeriod(5);
  w.window.setTimerPeriod(5); // the same period: no restart
  std::thread closer([&] {
    for (int i = 0; i < 500 && !w.backend->recorded("title stopped"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    w.backend->requestClose();
  });
  w.window.runMessageLoop();
  closer.join();
  EXPECT_EQ(gTicks, 3);
  const Records records = w.backend->records();
  EXPECT_EQ(std::count(records.begin(), records.end(), "timer 5"), 1);
  EXPECT_EQ(std::count(records.begin(), records.end(), "tick"), 3);
}

TEST(Window, MessageBoxFromAnotherThread) {
  LoadedWindow w;
  std::thread other([&] {
    w.window.messageBox("更新完毕，请重新打开软件！", "信息：",
                        ui::MessageIcon::information);
  });
  other.join();
  EXPECT_TRUE(w.backend->recorded(
      "message information 信息： 更新完毕，请重新打开软件！"));
}

TEST(Window, MessageLoopReturnsAtOnceWithoutAWindow) {
  LoadedWindow w;
  w.window.releaseWindows();
  w.window.runMessageLoop();
  EXPECT_EQ(w.backend->records().back(), "destroy");
}

} // namespace
