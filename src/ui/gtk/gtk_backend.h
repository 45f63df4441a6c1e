// The update window as a GTK 3 window.
#pragma once

#include "ui/backend.h"
#include "ui/call_queue.h"

#include <memory>

typedef struct _GtkWidget GtkWidget;

namespace ui {

class GtkBackend final : public Backend {
public:
  // Initialises GTK and opens the display; null when no display can be
  // opened. Window thread.
  static std::unique_ptr<GtkBackend> open();
  ~GtkBackend() override;

  void create(Events &events, std::string_view title) override;
  void show() override;
  void destroy() override;
  void showTitle(std::string_view title) override;
  void showPosition(int position) override;
  void startTimer(int periodMs) override;
  void stopTimer() override;
  void runLoop() override;
  bool invoke(std::function<void()> call) override;
  void messageBox(std::string_view text, std::string_view title,
                  MessageIcon icon) override;
  void release() override;

private:
  GtkBackend();
  static int onTimer(void *self);
  static int onCallsPending(void *self);
  void windowDestroyed();

  CallQueue calls_;
  // Window-thread state.
  Events *events_ = nullptr;
  GtkWidget *window_ = nullptr;
  GtkWidget *bar_ = nullptr;
  unsigned timerId_ = 0;
  bool looping_ = false;
};

} // namespace ui
