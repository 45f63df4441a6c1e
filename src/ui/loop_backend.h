// A backend over the portable EventLoop; what it presents is left to the
// subclass (the terminal prints, the recording backend records).
#pragma once

#include "ui/backend.h"
#include "ui/call_queue.h"
#include "ui/event_loop.h"

#include <string>

namespace ui {

class LoopBackend : public Backend {
public:
  LoopBackend();

  void create(Events &events, std::string_view title) override;
  void show() override;
  void destroy() override;
  void showTitle(std::string_view title) override;
  void showPosition(int position) override;
  void startTimer(int periodMs) override;
  void stopTimer() override;
  void runLoop() override;
  bool invoke(std::function<void()> call) override;
  void release() override;

  // Closes the window as its close box would: the window is destroyed, the
  // closed event is reported and the loop ends. Any thread.
  void requestClose();

protected:
  // Presentation hooks, on the window thread; title and position changes
  // are passed on whether or not the window is shown yet.
  virtual void presentShow(const std::string &title, int position) = 0;
  virtual void presentTitle(const std::string &title) = 0;
  virtual void presentPosition(int position) = 0;
  virtual void presentDestroy() = 0;
  virtual void presentTick() {}
  virtual void presentTimer(int /*periodMs*/) {}

  bool shown() const { return shown_; }
  const std::string &title() const { return title_; }
  int position() const { return position_; }

private:
  void close(bool reportClosed);

  EventLoop loop_;
  CallQueue calls_;
  // Window-thread state.
  Events *events_ = nullptr;
  bool open_ = false;
  bool shown_ = false;
  std::string title_;
  int position_ = 0;
};

} // namespace ui
