// The Win32 backend under a real window system (run under Xvfb when the
// system is Wine).
#include "platform/win32/text.h"
#include "process/process.h"
#include "ui/win32/placement.h"
#include "ui/win32/win32_backend.h"
#include "ui/window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::win32::toWide;

struct Recorder : ui::Backend::Events {
  int ticks = 0;
  int closes = 0;
  std::function<void()> onTick;
  void tick() override {
    ++ticks;
    if (onTick)
      onTick();
  }
  void closed() override { ++closes; }
};

// A backend with its window created (hidden) on this thread.
struct Created {
  std::unique_ptr<ui::Win32Backend> backend = ui::Win32Backend::open();
  Recorder events;
  Created() {
    if (backend)
      backend->create(events, "软件更新");
  }
};

// Dispatches this thread's messages for about `duration`.
void pump(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    std::this_thread::sleep_for(5ms);
  }
}

std::wstring textOf(HWND window) {
  wchar_t text[256];
  return std::wstring(text, static_cast<std::size_t>(::GetWindowTextW(window, text, 256)));
}

std::wstring classOf(HWND window) {
  wchar_t name[256];
  return std::wstring(name, static_cast<std::size_t>(::GetClassNameW(window, name, 256)));
}

TEST(Win32Backend, WindowIsCreatedHiddenWithItsLook) {
  Created c;
  ASSERT_TRUE(c.backend);
  HWND window = c.backend->window();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(classOf(window), ui::Win32Backend::kWindowClass);
  EXPECT_EQ(textOf(window), L"\u8F6F\u4EF6\u66F4\u65B0");

  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
  struct Bit {
    const char *name;
    LONG_PTR bit;
    bool set;
  };
  const Bit bits[] = {
      {"caption", WS_CAPTION, true},       {"system menu", WS_SYSMENU, true},
      {"sizing frame", WS_THICKFRAME, false}, {"minimise box", WS_MINIMIZEBOX, false},
      {"maximise box", WS_MAXIMIZEBOX, false}, {"child", WS_CHILD, false},
  };
  for (const auto &b : bits) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ((style & b.bit) == b.bit, b.set);
  }
  EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);

  // The outer rectangle, frame and caption included, centred on the screen.
  RECT outer;
  ::GetWindowRect(window, &outer);
  const ui::Placement at = ui::startPlacement(::GetSystemMetrics(SM_CXSCREEN),
                                              ::GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(outer.right - outer.left, 380);
  EXPECT_EQ(outer.bottom - outer.top, 74);
  EXPECT_EQ(outer.left, at.left);
  EXPECT_EQ(outer.top, at.top);

  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_SMALL2, 0), 0);

  c.backend->show();
  EXPECT_TRUE(::IsWindowVisible(window));
}

TEST(Win32Backend, BarIsTheStandardControlAtItsPlace) {
  Created c;
  ASSERT_TRUE(c.backend);
  HWND bar = c.backend->bar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(classOf(bar), PROGRESS_CLASSW);
  EXPECT_EQ(::GetParent(bar), c.backend->window());
  EXPECT_TRUE(::GetWindowLongPtrW(bar, GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_SMOOTH);
  EXPECT_FALSE(::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_VERTICAL);
  EXPECT_FALSE(::GetWindowLongPtrW(bar, GWL_STYLE) & WS_TABSTOP);
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::SendMessageW(bar, WM_GETFONT, 0, 0)),
            ::GetStockObject(DEFAULT_GUI_FONT));

  RECT rect;
  ::GetWindowRect(bar, &rect);
  ::MapWindowPoints(HWND_DESKTOP, c.backend->window(),
                    reinterpret_cast<POINT *>(&rect), 2);
  EXPECT_EQ(rect.left, 8);
  EXPECT_EQ(rect.top, 8);
  EXPECT_EQ(rect.right - rect.left, 360);
  EXPECT_EQ(rect.bottom - rect.top, 24);

  PBRANGE range{};
  ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  c.backend->showPosition(42);
  EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 42);

  c.backend->showTitle("正在下载更新文件：42%");
  EXPECT_EQ(textOf(c.backend->window()),
            toWide("正在下载更新文件：42%"));
  c.backend->showTitle("");
  EXPECT_EQ(textOf(c.backend->window()), L"");
}

TEST(Win32Backend, EscClosesOnlyWithoutModifiers) {
  struct Case {
    const char *name;
    int heldKey; // 0: none
    bool closes;
  };
  const Case cases[] = {
      {"Shift+Esc", VK_SHIFT, false},
      {"Ctrl+Esc", VK_CONTROL, false},
      {"Alt+Esc", VK_MENU, false},
      {"Esc", 0, true},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    Created c;
    ASSERT_TRUE(c.backend);
    c.backend->show();
    BYTE keys[256] = {};
    if (k.heldKey)
      keys[k.heldKey] = 0x80;
    ::SetKeyboardState(keys);
    HWND window = c.backend->window();
    ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    if (k.closes) {
      c.backend->runLoop(); // returns once the window is closed
    } else {
      pump(200ms);
    }
    BYTE none[256] = {};
    ::SetKeyboardState(none);
    EXPECT_EQ(::IsWindow(window) != 0, !k.closes);
    EXPECT_EQ(c.events.closes, k.closes ? 1 : 0);
    EXPECT_EQ(c.backend->window() == nullptr, k.closes);
  }
}

TEST(Win32Backend, CloseRequestEndsTheLoopAndDestroyReportsNothing) {
  Created closed;
  ASSERT_TRUE(closed.backend);
  closed.backend->show();
  ::PostMessageW(closed.backend->window(), WM_CLOSE, 0, 0);
  closed.backend->runLoop();
  EXPECT_EQ(closed.events.closes, 1);
  // Without a window the loop returns at once.
  closed.backend->runLoop();

  Created destroyed;
  destroyed.backend->destroy();
  EXPECT_EQ(destroyed.events.closes, 0);
  EXPECT_EQ(destroyed.backend->window(), nullptr);
  destroyed.backend->runLoop();
}

TEST(Win32Backend, TimerTicksUntilStoppedAndStopsWithTheWindow) {
  Created c;
  ASSERT_TRUE(c.backend);
  c.events.onTick = [&] {
    if (c.events.ticks == 3)
      c.backend->stopTimer();
  };
  c.backend->startTimer(10);
  for (int i = 0; i < 500 && c.events.ticks < 3; ++i)
    pump(10ms);
  pump(200ms); // no tick after the stop
  EXPECT_EQ(c.events.ticks, 3);

  c.events.onTick = nullptr;
  c.backend->startTimer(10);
  for (int i = 0; i < 500 && c.events.ticks < 4; ++i)
    pump(10ms);
  EXPECT_GE(c.events.ticks, 4);
  c.backend->destroy();
  const int ticks = c.events.ticks;
  pump(200ms);
  EXPECT_EQ(c.events.ticks, ticks);
}

TEST(Win32Backend, InvokeRunsOnTheWindowThreadAndWaits) {
  Created c;
  ASSERT_TRUE(c.backend);
  c.backend->show();
  const DWORD windowThread = ::GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> result{false};
  std::thread other([&] {
    result = c.backend->invoke([&] {
      ranOn = ::GetCurrentThreadId();
      c.backend->showTitle("invoked");
    });
    // The call has run when invoke returns.
    if (ranOn == windowThread)
      ::PostMessageW(c.backend->window(), WM_CLOSE, 0, 0);
  });
  c.backend->runLoop();
  other.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, windowThread);
}

TEST(Win32Backend, InvokeFailsOnceReleased) {
  Created c;
  ASSERT_TRUE(c.backend);
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  // This thread takes no message while the other one waits; release() must
  // set it free without running its call.
  std::thread waiting([&] { result = c.backend->invoke([&] { ran = true; }); });
  std::this_thread::sleep_for(100ms);
  c.backend->release();
  waiting.join();
  EXPECT_EQ(result, 0);
  c.backend->release(); // idempotent
  std::thread late([&] { result = c.backend->invoke([&] { ran = true; }); });
  late.join();
  EXPECT_EQ(result, 0);
  pump(50ms);
  EXPECT_FALSE(ran);
}

TEST(Win32Backend, MessageBoxBelongsToTheCallingThreadWithoutOwner) {
  struct Case {
    ui::MessageIcon icon;
    const char *name;
  };
  const Case cases[] = {{ui::MessageIcon::information, "information"},
                        {ui::MessageIcon::warning, "warning"}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    Created c;
    ASSERT_TRUE(c.backend);
    c.backend->show();
    std::atomic<DWORD> boxThread{0};
    std::atomic<bool> returned{false};
    std::thread engine([&] {
      boxThread = ::GetCurrentThreadId();
      c.backend->messageBox("更新完毕，请重新打开软件！", "信息：", k.icon);
      returned = true;
    });
    HWND box = nullptr;
    for (int i = 0; i < 1000 && !box; ++i) {
      pump(10ms); // the update window stays served meanwhile
      box = ::FindWindowW(L"#32770", L"\u4FE1\u606F\uFF1A");
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(::GetWindowThreadProcessId(box, nullptr), boxThread.load());
    EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
    EXPECT_FALSE(returned);
    // The box's text, wherever the system puts it.
    bool textFound = false;
    for (HWND child = ::GetWindow(box, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT))
      textFound = textFound || textOf(child) == toWide("更新完毕，请重新打开软件！");
    EXPECT_TRUE(textFound);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    engine.join();
    EXPECT_TRUE(returned);
  }
}

// The update window on this backend, loaded on this thread, which the
// process services then take as the window thread; the created handler
// reaches the backend through this.
ui::Win32Backend *gLoading = nullptr;
bool gVisibleInCreated = true;

TEST(Win32Window, CreatedEventRunsWhileTheWindowIsHidden) {
  auto backend = ui::Win32Backend::open();
  ASSERT_TRUE(backend);
  gLoading = backend.get();
  ui::Window window(std::move(backend));
  process::initialise(&window);
  ui::Bindings bindings;
  bindings.created = [] {
    gVisibleInCreated = ::IsWindowVisible(gLoading->window()) != 0;
  };
  window.load(bindings);
  EXPECT_FALSE(gVisibleInCreated);
  EXPECT_TRUE(::IsWindowVisible(gLoading->window()));
  window.releaseWindows();
  process::initialise(nullptr);
}

TEST(Win32Window, WritesFromAnotherThreadAreShownBeforeTheyReturn) {
  auto owned = ui::Win32Backend::open();
  ASSERT_TRUE(owned);
  ui::Win32Backend *backend = owned.get();
  ui::Window window(std::move(owned));
  process::initialise(&window);
  window.load({});
  HWND hwnd = backend->window();
  HWND bar = backend->bar();
  std::wstring titleSeen;
  LRESULT positionSeen = -1;
  std::thread engine([&] {
    window.setTitle("正在安装更新文件：42%");
    titleSeen = textOf(hwnd);
    window.setBarPosition(150); // shown as 100
    positionSeen = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
    ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  });
  window.runMessageLoop(); // until the other thread closes the window
  engine.join();
  EXPECT_EQ(titleSeen, toWide("正在安装更新文件：42%"));
  EXPECT_EQ(positionSeen, 100);
  EXPECT_FALSE(window.exists());
  process::initialise(nullptr);
}

} // namespace
