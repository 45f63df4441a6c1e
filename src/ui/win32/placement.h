// Where the update window starts on a Windows screen.
#pragma once

#include "ui/backend.h"

namespace ui {

struct Placement {
  int left;
  int top;
  int width;
  int height;
};

// The window's outer rectangle, frame and caption included, centred on a
// screen of the given size. Each coordinate is (screen - window) / 2
// truncated toward zero, so a screen smaller than the window gives a
// negative coordinate rounded toward zero.
constexpr Placement startPlacement(int screenWidth, int screenHeight) {
  return {(screenWidth - WindowLook::kOuterWidth) / 2,
          (screenHeight - WindowLook::kOuterHeight) / 2,
          WindowLook::kOuterWidth, WindowLook::kOuterHeight};
}

} // namespace ui
