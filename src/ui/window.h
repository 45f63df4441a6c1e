// The update window with its three controls: the progress bar 进度条1, the
// timer 时钟1 and the ZIP component ZIP压缩1.
#pragma once

#include "process/process.h"
#include "ui/backend.h"
#include "ui/controls.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ui {

inline constexpr std::string_view kWindowTitleText = "软件更新";

// Handlers bound to the window's events.
struct Bindings {
  void (*created)() = nullptr;                       // the window
  void (*tick)() = nullptr;                          // 时钟1
  void (*installProgress)(std::int32_t) = nullptr;   // ZIP压缩1
};

class Window final : public process::WindowThread, private Backend::Events {
public:
  explicit Window(std::unique_ptr<Backend> backend);
  ~Window() override;

  // Creates the window hidden, raises the created event synchronously, then
  // shows the window. Window thread; once per process.
  void load(const Bindings &bindings);

  // Runs the message loop until the window is closed. Window thread.
  void runMessageLoop();

  // Property writes by control and number. Any thread: a write from another
  // thread is applied on the window thread before the call returns; a write
  // after the window is gone, or to a property the control does not have,
  // does nothing.
  void setProperty(Control control, int number, std::int32_t value);
  void setProperty(Control control, int number, std::string_view text);

  void setTitle(std::string_view text) {
    setProperty(Control::window, kWindowTitle, text);
  }
  void setBarPosition(std::int32_t value) {
    setProperty(Control::进度条1, kBarPosition, value);
  }
  void setTimerPeriod(std::int32_t value) {
    setProperty(Control::时钟1, kTimerPeriod, value);
  }

  // ZIP压缩1's operation: unpacks `archivePath` into `targetDirectory`,
  // raising the progress event on the calling thread. Returns the
  // component's status (1 done, 0 failed, -1 no archive).
  int extract(std::string_view archivePath, std::string_view targetDirectory);

  // A message box with one OK button and no owner, modal for the calling
  // thread only. Any thread.
  void messageBox(std::string_view text, std::string_view title,
                  MessageIcon icon);

  // What the window shows now. Window thread.
  const std::string &title() const { return title_; }
  const ProcessBar &bar() const { return bar_; }
  const Timer &timer() const { return timer_; }
  bool exists() const { return exists_; }

  // process::WindowThread
  bool handOver(std::function<void()> call) override;
  void releaseWindows() override;
  void releaseToolkit() override;

private:
  void tick() override;
  void closed() override;
  // Runs `apply` on the window thread; false when it cannot.
  bool onWindowThread(const std::function<void()> &apply);
  // Copies the title and the stored bar position for other threads.
  // Window thread.
  void mirror();

  std::unique_ptr<Backend> backend_;
  Bindings bindings_;
  // Window-thread state.
  bool exists_ = false;
  std::string title_;
  ProcessBar bar_;
  Timer timer_;
  // The title and stored bar position as other threads may read them: a
  // write from another thread that would change neither returns at once.
  std::mutex mirrorMutex_;
  std::string mirroredTitle_;       // guarded by mirrorMutex_
  std::int32_t mirroredPosition_ = 0; // guarded by mirrorMutex_
};

} // namespace ui
