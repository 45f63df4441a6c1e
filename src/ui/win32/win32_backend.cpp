#include "ui/win32/win32_backend.h"

#include "platform/win32/text.h"
#include "ui/icon.h"
#include "ui/win32/placement.h"
#include "ui/win32/resources.h"

#include <commctrl.h>

#include <vector>

namespace ui {
namespace {

using platform::win32::toWide;

constexpr const wchar_t *kCallsClass = L"UpdaterCalls";
constexpr UINT kRunCalls = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;
constexpr int kBarId = 100;

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

HINSTANCE instance() { return ::GetModuleHandleW(nullptr); }

// An icon of `size` pixels drawn from the program's artwork, for a program
// file that carries no icon resource (the test programs).
HICON drawnIcon(int size) {
  const std::vector<std::uint8_t> rgba = renderIcon(size);
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size; // top-down rows, as renderIcon gives them
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void *bits = nullptr;
  HDC screen = ::GetDC(nullptr);
  HBITMAP colour = ::CreateDIBSection(screen,
                                      reinterpret_cast<BITMAPINFO *>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
  ::ReleaseDC(nullptr, screen);
  if (!colour)
    return nullptr;
  auto *out = static_cast<std::uint8_t *>(bits);
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    out[i + 0] = rgba[i + 2];
    out[i + 1] = rgba[i + 1];
    out[i + 2] = rgba[i + 0];
    out[i + 3] = rgba[i + 3];
  }
  // With an alpha channel the mask is not used, but it must be there.
  HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(colour);
  ::DeleteObject(mask);
  return icon;
}

// The program's icon at the system's size for `metricX`: from the program
// file's own icon, whose five images let the system pick the best, or drawn.
HICON programIcon(int metricX, int metricY) {
  const int width = ::GetSystemMetrics(metricX);
  const int height = ::GetSystemMetrics(metricY);
  if (HANDLE icon = ::LoadImageW(instance(), MAKEINTRESOURCEW(UPDATER_ICON),
                                 IMAGE_ICON, width, height, LR_SHARED))
    return static_cast<HICON>(icon);
  return drawnIcon(width);
}

// The window classes and their icons are made once per process and kept
// until it ends.
bool registerClasses() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.lpfnWndProc = ::DefWindowProcW; // replaced per window at creation
    window.hInstance = instance();
    window.hIcon = programIcon(SM_CXICON, SM_CYICON);
    window.hIconSm = programIcon(SM_CXSMICON, SM_CYSMICON);
    window.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = Win32Backend::kWindowClass;
    WNDCLASSEXW calls{};
    calls.cbSize = sizeof calls;
    calls.lpfnWndProc = ::DefWindowProcW;
    calls.hInstance = instance();
    calls.lpszClassName = kCallsClass;
    return ::RegisterClassExW(&window) != 0 && ::RegisterClassExW(&calls) != 0;
  }();
  return registered;
}

// Creates a window whose procedure reaches `self` from its first message on.
HWND createWindow(DWORD exStyle, const wchar_t *className, const wchar_t *title,
                  DWORD style, const Placement &at, HWND parent,
                  WNDPROC procedure, Win32Backend *self) {
  HWND window = ::CreateWindowExW(exStyle, className, title, style, at.left,
                                  at.top, at.width, at.height, parent, nullptr,
                                  instance(), nullptr);
  if (!window)
    return nullptr;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  ::SetWindowLongPtrW(window, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(procedure));
  return window;
}

Win32Backend *backendOf(HWND window) {
  return reinterpret_cast<Win32Backend *>(
      ::GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool modifierHeld() {
  for (int key : {VK_SHIFT, VK_CONTROL, VK_MENU})
    if (::GetKeyState(key) & 0x8000)
      return true;
  return false;
}

} // namespace

Win32Backend::Win32Backend()
    : calls_([this] { ::PostMessageW(callsWindow_, kRunCalls, 0, 0); }) {}

std::unique_ptr<Win32Backend> Win32Backend::open() {
  if (!registerClasses())
    return nullptr;
  std::unique_ptr<Win32Backend> backend(new Win32Backend());
  backend->callsWindow_ =
      createWindow(0, kCallsClass, L"", 0, Placement{0, 0, 0, 0}, HWND_MESSAGE,
                   &Win32Backend::callsProcedure, backend.get());
  if (!backend->callsWindow_)
    return nullptr;
  return backend;
}

Win32Backend::~Win32Backend() {
  calls_.close();
  destroy();
  if (callsWindow_)
    ::DestroyWindow(callsWindow_);
}

LRESULT CALLBACK Win32Backend::callsProcedure(HWND window, UINT message,
                                              WPARAM wParam, LPARAM lParam) {
  if (message == kRunCalls) {
    if (Win32Backend *self = backendOf(window))
      self->calls_.runPending();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::windowProcedure(HWND window, UINT message,
                                               WPARAM wParam, LPARAM lParam) {
  if (Win32Backend *self = backendOf(window))
    return self->onMessage(window, message, wParam, lParam);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32Backend::onMessage(HWND window, UINT message, WPARAM wParam,
                                LPARAM lParam) {
  switch (message) {
  case WM_TIMER:
    if (wParam == kTimerId) {
      // A tick generated before the timer was stopped is not delivered.
      if (timerRunning_ && window_)
        events_->tick();
      return 0;
    }
    break;
  case WM_KEYDOWN:
    // A plain Esc asks the window to close exactly as its close box does.
    if (wParam == VK_ESCAPE && !modifierHeld()) {
      ::SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    }
    break;
  case WM_DESTROY: {
    ::KillTimer(window, kTimerId);
    timerRunning_ = false;
    // window_ is already null when destroy() ended the window itself.
    const bool byUser = window_ != nullptr;
    window_ = nullptr;
    bar_ = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (byUser)
      events_->closed();
    if (looping_) {
      looping_ = false;
      ::PostQuitMessage(0);
    }
    return 0;
  }
  default:
    break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void Win32Backend::create(Events &events, std::string_view title) {
  events_ = &events;
  const std::wstring caption = toWide(title);
  const Placement at = startPlacement(::GetSystemMetrics(SM_CXSCREEN),
                                      ::GetSystemMetrics(SM_CYSCREEN));
  window_ = createWindow(WS_EX_APPWINDOW, kWindowClass, caption.c_str(),
                         kWindowStyle, at, nullptr,
                         &Win32Backend::windowProcedure, this);
  if (!window_)
    return;
  // The caption and the task bar take the large and the small icon from
  // the same images.
  ::SendMessageW(window_, WM_SETICON, ICON_BIG,
                 ::GetClassLongPtrW(window_, GCLP_HICON));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 ::GetClassLongPtrW(window_, GCLP_HICONSM));
  const auto font = reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT));

  // The bar keeps the control's defaults: segmented, left to right, unable
  // to take the focus.
  bar_ = ::CreateWindowExW(
      0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, WindowLook::kBarLeft,
      WindowLook::kBarTop, WindowLook::kBarWidth, WindowLook::kBarHeight,
      window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBarId)),
      instance(), nullptr);
  if (bar_) {
    ::SendMessageW(bar_, WM_SETFONT, font, FALSE);
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(bar_, PBM_SETPOS, 0, 0);
  }
}

void Win32Backend::show() {
  if (!window_)
    return;
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  ::UpdateWindow(window_);
}

void Win32Backend::destroy() {
  if (!window_)
    return;
  HWND window = window_;
  window_ = nullptr;
  bar_ = nullptr;
  ::DestroyWindow(window);
}

void Win32Backend::showTitle(std::string_view title) {
  if (window_)
    ::SetWindowTextW(window_, toWide(title).c_str());
}

void Win32Backend::showPosition(int position) {
  if (bar_)
    ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32Backend::dropQueuedTicks() {
  MSG message;
  while (::PeekMessageW(&message, window_, WM_TIMER, WM_TIMER, PM_REMOVE)) {
  }
}

void Win32Backend::startTimer(int periodMs) {
  if (!window_)
    return;
  // Setting the same timer again restarts it: the first tick comes one
  // period from now.
  ::SetTimer(window_, kTimerId, static_cast<UINT>(periodMs), nullptr);
  timerRunning_ = true;
  dropQueuedTicks();
}

void Win32Backend::stopTimer() {
  timerRunning_ = false;
  if (!window_)
    return;
  ::KillTimer(window_, kTimerId);
  dropQueuedTicks();
}

void Win32Backend::runLoop() {
  if (!window_)
    return;
  looping_ = true;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  looping_ = false;
}

bool Win32Backend::invoke(std::function<void()> call) {
  return calls_.callAndWait(std::move(call));
}

void Win32Backend::messageBox(std::string_view text, std::string_view title,
                              MessageIcon icon) {
  // Shown by the calling thread, without an owner: the update window goes
  // on being served by its own thread meanwhile.
  const UINT style =
      MB_OK | (icon == MessageIcon::information ? MB_ICONINFORMATION
                                                : MB_ICONWARNING);
  ::MessageBoxW(nullptr, toWide(text).c_str(), toWide(title).c_str(), style);
}

void Win32Backend::release() { calls_.close(); }

} // namespace ui
