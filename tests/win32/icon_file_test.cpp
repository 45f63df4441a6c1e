// The committed program icon against the artwork the window draws.
#include "platform/win32/win32.h"
#include "ui/icon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

unsigned read16(const Bytes &b, std::size_t at) { return b[at] | b[at + 1] << 8; }
std::uint32_t read32(const Bytes &b, std::size_t at) {
  return read16(b, at) | static_cast<std::uint32_t>(read16(b, at + 2)) << 16;
}

struct Image {
  int size = 0;
  int bits = 0;
  Bytes data; // the BITMAPINFOHEADER and what follows it
};

std::vector<Image> readIcon() {
  std::ifstream in(UPDATER_ICON_FILE, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), {}};
  std::vector<Image> images;
  if (file.size() < 6 || read16(file, 2) != 1)
    return images;
  for (unsigned i = 0; i < read16(file, 4); ++i) {
    const std::size_t entry = 6 + 16 * i;
    Image image;
    image.size = file[entry] == 0 ? 256 : file[entry];
    image.bits = static_cast<int>(read16(file, entry + 6));
    const std::uint32_t length = read32(file, entry + 8);
    const std::uint32_t offset = read32(file, entry + 12);
    if (offset + length > file.size())
      return {};
    image.data.assign(file.begin() + offset, file.begin() + offset + length);
    images.push_back(std::move(image));
  }
  return images;
}

// Whether the AND mask marks the pixel transparent.
bool masked(const Image &image, int x, int y) {
  const int size = image.size;
  const std::size_t palette = image.bits == 8 ? 256 * 4 : 0;
  const std::size_t colourRow = static_cast<std::size_t>((size * image.bits + 31) / 32 * 4);
  const std::size_t maskRow = static_cast<std::size_t>((size + 31) / 32 * 4);
  const std::size_t mask = 40 + palette + colourRow * static_cast<std::size_t>(size);
  const std::size_t row = static_cast<std::size_t>(size - 1 - y);
  return image.data[mask + row * maskRow + static_cast<std::size_t>(x / 8)] &
         (0x80 >> (x % 8));
}

TEST(Win32IconFile, HoldsTheFiveImages) {
  std::set<std::pair<int, int>> found;
  for (const Image &image : readIcon()) {
    found.insert({image.size, image.bits});
    // The system itself can make an icon of each image.
    HICON icon = ::CreateIconFromResourceEx(
        const_cast<BYTE *>(image.data.data()), static_cast<DWORD>(image.data.size()),
        TRUE, 0x00030000, image.size, image.size, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << image.size << " pixels, " << image.bits << " bits";
    if (icon)
      ::DestroyIcon(icon);
  }
  const std::set<std::pair<int, int>> expected = {
      {48, 32}, {32, 32}, {16, 32}, {32, 8}, {16, 8}};
  EXPECT_EQ(found, expected);
}

TEST(Win32IconFile, ShowsTheDrawnArtwork) {
  for (const Image &image : readIcon()) {
    SCOPED_TRACE(testing::Message() << image.size << " pixels, " << image.bits << " bits");
    const int size = image.size;
    const Bytes rgba = ui::renderIcon(size);
    int wrong = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const std::uint8_t *want = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
        const std::size_t row = static_cast<std::size_t>(size - 1 - y);
        if (image.bits == 32) {
          // Exactly the drawn pixels, stored as blue, green, red, alpha.
          const std::uint8_t *got = &image.data[40 + (row * size + x) * 4];
          if (got[0] != want[2] || got[1] != want[1] || got[2] != want[0] ||
              got[3] != want[3])
            ++wrong;
        } else {
          // Opaque where the artwork is at least half covered, in a colour
          // near the drawn one.
          const bool opaque = want[3] >= 128;
          if (masked(image, x, y) == opaque) {
            ++wrong;
            continue;
          }
          if (!opaque)
            continue;
          const std::size_t stride = static_cast<std::size_t>((size + 3) / 4 * 4);
          const std::uint8_t index = image.data[40 + 1024 + row * stride + x];
          const std::uint8_t *entry = &image.data[40 + index * 4u];
          const int distance = std::abs(entry[2] - want[0]) +
                               std::abs(entry[1] - want[1]) +
                               std::abs(entry[0] - want[2]);
          if (distance > 48)
            ++wrong;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

} // namespace
