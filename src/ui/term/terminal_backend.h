// The window drawn on the terminal, for machines where no display can be
// opened.
#pragma once

#include "ui/loop_backend.h"

#include <memory>
#include <string>

namespace ui {

class TerminalBackend final : public LoopBackend {
public:
  // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
  // started after it, and waits for them on a thread of its own: either
  // closes the window as the close box does. Construct it before any other
  // thread starts.
  TerminalBackend();
  ~TerminalBackend() override;

  void messageBox(std::string_view text, std::string_view title,
                  MessageIcon icon) override;

private:
  void presentShow(const std::string &title, int position) override;
  void presentTitle(const std::string &title) override;
  void presentPosition(int position) override;
  void presentDestroy() override;
  void print();

  const bool inPlace_; // stdout is a terminal: redraw one line in place
  // Window-thread state.
  std::string printedTitle_;
  int printedPosition_ = -1;
  bool lineOpen_ = false;
};

} // namespace ui
