#include "ui/recording/recording_backend.h"

#include <algorithm>

namespace ui {

std::vector<std::string> RecordingBackend::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

bool RecordingBackend::recorded(const std::string &entry) const {
  std::lock_guard lock(mutex_);
  return std::find(records_.begin(), records_.end(), entry) != records_.end();
}

void RecordingBackend::record(std::string entry) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(entry));
}

void RecordingBackend::messageBox(std::string_view text, std::string_view title,
                                  MessageIcon icon) {
  record("message " +
         std::string(icon == MessageIcon::information ? "information"
                                                      : "warning") +
         " " + std::string(title) + " " + std::string(text));
}

void RecordingBackend::presentShow(const std::string &title, int position) {
  record("show " + title + " " + std::to_string(position));
}

void RecordingBackend::presentTitle(const std::string &title) {
  record("title " + title);
}

void RecordingBackend::presentPosition(int position) {
  record("position " + std::to_string(position));
}

void RecordingBackend::presentDestroy() { record("destroy"); }

void RecordingBackend::presentTick() { record("tick"); }

void RecordingBackend::presentTimer(int periodMs) {
  record("timer " + std::to_string(periodMs));
}

} // namespace ui
