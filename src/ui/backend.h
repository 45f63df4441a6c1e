// What each platform's toolkit provides to the update window.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace ui {

enum class MessageIcon { information, warning };

// How the window is laid out; the same on every backend.
struct WindowLook {
  static constexpr int kOuterWidth = 380;
  static constexpr int kOuterHeight = 74;
  static constexpr int kClientWidth = 376;
  static constexpr int kClientHeight = 40;
  static constexpr int kBarLeft = 8;
  static constexpr int kBarTop = 8;
  static constexpr int kBarWidth = 360;
  static constexpr int kBarHeight = 24;
};

// The window thread's primitives. Every call but invoke() and messageBox()
// is made on the window thread.
class Backend {
public:
  // What the backend reports back, on the window thread.
  class Events {
  public:
    virtual ~Events() = default;
    virtual void tick() = 0;
    // The window has been closed and destroyed by the user (close box, Esc,
    // Alt+F4, a signal on the terminal).
    virtual void closed() = 0;
  };

  virtual ~Backend() = default;

  // Creates the window hidden, with `title` and an empty bar.
  virtual void create(Events &events, std::string_view title) = 0;
  // Shows the window and makes it the active one.
  virtual void show() = 0;
  // Destroys the window and stops its timer, without reporting closed().
  virtual void destroy() = 0;
  virtual void showTitle(std::string_view title) = 0;
  // `position` is already clamped to the bar's range.
  virtual void showPosition(int position) = 0;
  // Starts the timer anew: the first tick one period from now.
  virtual void startTimer(int periodMs) = 0;
  virtual void stopTimer() = 0;
  // Runs the message loop until the window has been closed; returns at once
  // when no window is open.
  virtual void runLoop() = 0;
  // Runs `call` on the window thread and waits for it; false when the window
  // thread can no longer take calls. Any thread but the window thread.
  virtual bool invoke(std::function<void()> call) = 0;
  // Shows a message box with one OK button, without an owner, modal for the
  // calling thread only; returns when the user has closed it. Any thread.
  virtual void messageBox(std::string_view text, std::string_view title,
                          MessageIcon icon) = 0;
  // Fails every waiting and later invoke() call. Idempotent.
  virtual void release() = 0;
};

// Opens the platform's backend: a real window where a display can be opened,
// the terminal otherwise.
std::unique_ptr<Backend> openBackend();

} // namespace ui
