#include "ui/icon.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ui {
namespace {

struct Colour {
  float r, g, b, a;
};

constexpr Colour kClear{0, 0, 0, 0};
constexpr Colour kOcean{0.16f, 0.47f, 0.85f, 1};
constexpr Colour kOceanEdge{0.05f, 0.20f, 0.45f, 1};
constexpr Colour kGrid{0.78f, 0.89f, 1.0f, 1};
constexpr Colour kArrow{0.17f, 0.66f, 0.24f, 1};
constexpr Colour kArrowEdge{0.05f, 0.30f, 0.08f, 1};

// Coordinates are fractions of the icon's side, y growing downwards.
constexpr float kGlobeX = 0.43f, kGlobeY = 0.43f, kGlobeR = 0.39f;

bool insideArrow(float x, float y) {
  const bool shaft = x >= 0.68f && x <= 0.86f && y >= 0.46f && y <= 0.74f;
  // The head: a triangle pointing down, from y 0.70 to 0.98.
  const float top = 0.70f, tip = 0.98f, half = 0.21f, centre = 0.77f;
  bool head = false;
  if (y >= top && y <= tip) {
    const float w = half * (tip - y) / (tip - top);
    head = std::abs(x - centre) <= w;
  }
  return shaft || head;
}

bool nearArrow(float x, float y, float d) {
  static constexpr std::array<std::array<float, 2>, 8> kDirections{{
      {1, 0}, {-1, 0}, {0, 1}, {0, -1},
      {0.707f, 0.707f}, {-0.707f, 0.707f}, {0.707f, -0.707f}, {-0.707f, -0.707f}}};
  for (const auto &dir : kDirections)
    if (insideArrow(x + dir[0] * d, y + dir[1] * d))
      return true;
  return insideArrow(x, y);
}

// The colour of one sample point.
Colour sample(float x, float y, float pixel) {
  const float edge = std::max(pixel * 1.0f, 0.03f);
  if (insideArrow(x, y))
    return kArrow;
  if (nearArrow(x, y, edge))
    return kArrowEdge;

  const float dx = x - kGlobeX, dy = y - kGlobeY;
  const float dist = std::sqrt(dx * dx + dy * dy);
  if (dist > kGlobeR)
    return kClear;
  if (dist > kGlobeR - edge)
    return kOceanEdge;

  const float line = std::max(pixel * 0.6f, 0.022f);
  // Parallels: the equator and two more.
  for (float p : {-0.5f, 0.0f, 0.5f})
    if (std::abs(dy - p * kGlobeR) < line)
      return kGrid;
  // Meridians: the central one and two ellipses.
  if (std::abs(dx) < line)
    return kGrid;
  const float a = kGlobeR * 0.5f;
  const float e = std::sqrt((dx / a) * (dx / a) + (dy / kGlobeR) * (dy / kGlobeR));
  if (std::abs(e - 1.0f) * a < line)
    return kGrid;
  return kOcean;
}

} // namespace

std::vector<std::uint8_t> renderIcon(int size) {
  constexpr int kSub = 4; // samples per pixel side
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
  const float pixel = 1.0f / static_cast<float>(size);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      float r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          const float x = (static_cast<float>(px) + (sx + 0.5f) / kSub) * pixel;
          const float y = (static_cast<float>(py) + (sy + 0.5f) / kSub) * pixel;
          const Colour c = sample(x, y, pixel);
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      }
      auto *out = &pixels[(static_cast<std::size_t>(py) * size + px) * 4];
      constexpr float kCount = kSub * kSub;
      const auto byte = [](float v) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
      };
      if (a > 0) {
        out[0] = byte(r / a);
        out[1] = byte(g / a);
        out[2] = byte(b / a);
      }
      out[3] = byte(a / kCount);
    }
  }
  return pixels;
}

} // namespace ui
