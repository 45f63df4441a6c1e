// The update window as a native Win32 window with the standard progress bar
// control.
#pragma once

#include "platform/win32/win32.h"
#include "ui/backend.h"
#include "ui/call_queue.h"

#include <memory>

namespace ui {

class Win32Backend final : public Backend {
public:
  // The name of the update window's class.
  static constexpr const wchar_t *kWindowClass = L"UpdaterWindow";

  // Registers the window classes, loads the common controls and creates the
  // hidden window that takes calls from other threads. Null when the
  // toolkit cannot be set up. Window thread.
  static std::unique_ptr<Win32Backend> open();
  ~Win32Backend() override;

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

  // The update window and its bar; null before create() and once the window
  // is gone. Window thread.
  HWND window() const { return window_; }
  HWND bar() const { return bar_; }

private:
  Win32Backend();
  static LRESULT CALLBACK windowProcedure(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK callsProcedure(HWND, UINT, WPARAM, LPARAM);
  LRESULT onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void dropQueuedTicks();

  CallQueue calls_;
  // The message-only window that other threads wake with a posted message
  // when they have queued a call; it lives as long as the backend.
  HWND callsWindow_ = nullptr;
  // Window-thread state.
  Events *events_ = nullptr;
  HWND window_ = nullptr;
  HWND bar_ = nullptr;
  bool timerRunning_ = false;
  bool looping_ = false;
};

} // namespace ui
