#include "ui/loop_backend.h"

namespace ui {

LoopBackend::LoopBackend()
    : calls_([this] { loop_.post([this] { calls_.runPending(); }); }) {}

void LoopBackend::create(Events &events, std::string_view title) {
  events_ = &events;
  open_ = true;
  title_ = title;
  position_ = 0;
}

void LoopBackend::show() {
  if (!open_)
    return;
  shown_ = true;
  presentShow(title_, position_);
}

void LoopBackend::close(bool reportClosed) {
  if (!open_)
    return;
  loop_.stopTimer();
  open_ = false;
  shown_ = false;
  presentDestroy();
  if (reportClosed)
    events_->closed();
  loop_.quit();
}

void LoopBackend::destroy() { close(false); }

void LoopBackend::requestClose() {
  loop_.post([this] { close(true); });
}

void LoopBackend::showTitle(std::string_view title) {
  title_ = title;
  presentTitle(title_);
}

void LoopBackend::showPosition(int position) {
  position_ = position;
  presentPosition(position_);
}

void LoopBackend::startTimer(int periodMs) {
  presentTimer(periodMs);
  loop_.startTimer(periodMs, [this] {
    presentTick();
    if (open_)
      events_->tick();
  });
}

void LoopBackend::stopTimer() {
  presentTimer(0);
  loop_.stopTimer();
}

void LoopBackend::runLoop() {
  if (!open_)
    return;
  loop_.run();
}

bool LoopBackend::invoke(std::function<void()> call) {
  return calls_.callAndWait(std::move(call));
}

void LoopBackend::release() { calls_.close(); }

} // namespace ui
