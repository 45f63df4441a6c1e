// A backend for tests: a real message loop and timer with no display, which
// records everything the window is asked to present.
#pragma once

#include "ui/loop_backend.h"

#include <mutex>
#include <string>
#include <vector>

namespace ui {

class RecordingBackend final : public LoopBackend {
public:
  // Every presentation in order: "show 软件更新 0", "title ...",
  // "position N", "timer N" (0 stops), "tick", "destroy",
  // "message information|warning TITLE TEXT". Any thread.
  std::vector<std::string> records() const;
  // Whether `record` is among the records.
  bool recorded(const std::string &record) const;

  void messageBox(std::string_view text, std::string_view title,
                  MessageIcon icon) override;

private:
  void presentShow(const std::string &title, int position) override;
  void presentTitle(const std::string &title) override;
  void presentPosition(int position) override;
  void presentDestroy() override;
  void presentTick() override;
  void presentTimer(int periodMs) override;
  void record(std::string entry);

  mutable std::mutex mutex_;
  std::vector<std::string> records_; // guarded by mutex_
};

} // namespace ui
