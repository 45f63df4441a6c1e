#include "ui/term/terminal_backend.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace ui {
namespace {

// Standard output is shared by the window thread and a message box shown
// from another thread.
std::mutex gOutputMutex;

std::string textBar(int position) {
  constexpr int kCells = 20;
  const int filled = position * kCells / 100;
  std::string bar(kCells + 2, '.');
  bar.front() = '[';
  bar.back() = ']';
  for (int i = 0; i < filled; ++i)
    bar[static_cast<std::size_t>(i) + 1] = '#';
  return bar;
}

} // namespace

TerminalBackend::TerminalBackend() : inPlace_(::isatty(STDOUT_FILENO) == 1) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([this, signals] {
    int signal = 0;
    while (sigwait(&signals, &signal) == 0)
      requestClose();
  }).detach();
}

TerminalBackend::~TerminalBackend() = default;

void TerminalBackend::print() {
  std::lock_guard lock(gOutputMutex);
  if (inPlace_) {
    std::fprintf(stdout, "\r\033[K%s  %s %d%%", title().c_str(),
                 textBar(position()).c_str(), position());
    lineOpen_ = true;
  } else if (title() != printedTitle_) {
    std::fprintf(stdout, "%s\n", title().c_str());
  }
  printedTitle_ = title();
  std::fflush(stdout);
}

void TerminalBackend::presentShow(const std::string &, int) { print(); }

void TerminalBackend::presentTitle(const std::string &) {
  if (shown())
    print();
}

void TerminalBackend::presentPosition(int) {
  if (shown() && inPlace_)
    print();
}

void TerminalBackend::presentDestroy() {
  std::lock_guard lock(gOutputMutex);
  if (lineOpen_)
    std::fputc('\n', stdout);
  lineOpen_ = false;
  std::fflush(stdout);
}

void TerminalBackend::messageBox(std::string_view text, std::string_view,
                                 MessageIcon) {
  {
    std::lock_guard lock(gOutputMutex);
    if (lineOpen_)
      std::fputc('\n', stdout);
    lineOpen_ = false;
    printedTitle_.clear();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  if (::isatty(STDIN_FILENO) == 1) {
    std::string line;
    std::getline(std::cin, line);
  }
}

} // namespace ui
