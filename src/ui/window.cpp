#include "ui/window.h"

namespace ui {

Window::Window(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

Window::~Window() = default;

void Window::load(const Bindings &bindings) {
  bindings_ = bindings;
  title_ = kWindowTitleText;
  mirror();
  backend_->create(*this, title_);
  exists_ = true;
  // The handler may end the process; then the window is never shown.
  if (bindings_.created && !process::endingMarkRaised())
    bindings_.created();
  if (exists_)
    backend_->show();
}

void Window::runMessageLoop() { backend_->runLoop(); }

bool Window::onWindowThread(const std::function<void()> &apply) {
  if (process::onWindowThread()) {
    apply();
    return true;
  }
  return backend_->invoke(apply);
}

void Window::mirror() {
  std::lock_guard lock(mirrorMutex_);
  mirroredTitle_ = title_;
  mirroredPosition_ = bar_.position();
}

void Window::setProperty(Control control, int number, std::int32_t value) {
  // The install progress writes the bar for every entry from another
  // thread; a write of the position already stored changes nothing, so it
  // is spared the round trip to the window thread.
  if (control == Control::进度条1 && number == kBarPosition &&
      !process::onWindowThread()) {
    ProcessBar wanted;
    wanted.setPosition(value);
    std::lock_guard lock(mirrorMutex_);
    if (wanted.position() == mirroredPosition_)
      return;
  }
  onWindowThread([&] {
    if (!exists_)
      return;
    if (control == Control::进度条1 && number == kBarPosition) {
      const auto before = bar_.shown();
      const auto stored = bar_.position();
      bar_.setPosition(value);
      if (bar_.position() != stored)
        mirror();
      // The timer writes every 10 ms; an unchanged bar is not redrawn.
      if (bar_.shown() != before)
        backend_->showPosition(bar_.shown());
    } else if (control == Control::时钟1 && number == kTimerPeriod) {
      switch (timer_.setPeriod(value)) {
      case Timer::Change::none:
        break;
      case Timer::Change::stop:
        backend_->stopTimer();
        break;
      case Timer::Change::start:
        backend_->startTimer(timer_.period());
        break;
      }
    }
  });
}

void Window::setProperty(Control control, int number, std::string_view text) {
  if (control == Control::window && number == kWindowTitle &&
      !process::onWindowThread()) {
    std::lock_guard lock(mirrorMutex_);
    if (text == mirroredTitle_)
      return;
  }
  onWindowThread([&] {
    if (!exists_ || control != Control::window || number != kWindowTitle ||
        text == title_)
      return;
    title_ = text;
    mirror();
    backend_->showTitle(title_);
  });
}

void Window::messageBox(std::string_view text, std::string_view title,
                        MessageIcon icon) {
  backend_->messageBox(text, title, icon);
}

bool Window::handOver(std::function<void()> call) {
  return backend_->invoke(std::move(call));
}

void Window::releaseWindows() {
  // Calls handed over from now on fail at once: a thread that would wait
  // for this one while it ends could otherwise never resume.
  backend_->release();
  if (!exists_)
    return;
  exists_ = false;
  timer_ = Timer();
  backend_->destroy();
}

void Window::releaseToolkit() { backend_->release(); }

void Window::tick() {
  if (exists_ && bindings_.tick && !process::endingMarkRaised())
    bindings_.tick();
}

void Window::closed() {
  exists_ = false;
  timer_ = Timer();
}

} // namespace ui
