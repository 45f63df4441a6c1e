// Writes the program file's icon, updater.ico, from the artwork the window
// draws (ui::renderIcon): 48, 32 and 16 pixels in 32-bit colour with alpha,
// and 32 and 16 pixels in 256 colours for displays without alpha. Run on the
// build machine; see README.md beside this file.
#include "ui/icon.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes &out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes &out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Rows are stored bottom-up and padded to four bytes.
std::size_t rowBytes(int width, int bits) {
  return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

void putHeader(Bytes &out, int size, int bits) {
  put32(out, 40);
  put32(out, static_cast<std::uint32_t>(size));
  put32(out, static_cast<std::uint32_t>(size * 2)); // colour and mask
  put16(out, 1);
  put16(out, static_cast<unsigned>(bits));
  for (int i = 0; i < 6; ++i)
    put32(out, 0);
}

// The AND mask: set where the image is transparent.
void putMask(Bytes &out, const Bytes &rgba, int size, int threshold) {
  const std::size_t stride = rowBytes(size, 1);
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(stride, 0);
    for (int x = 0; x < size; ++x)
      if (rgba[(static_cast<std::size_t>(y) * size + x) * 4 + 3] < threshold)
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
}

Bytes trueColourImage(int size) {
  const Bytes rgba = ui::renderIcon(size);
  Bytes out;
  putHeader(out, size, 32);
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const auto *p = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
  putMask(out, rgba, size, 1);
  return out;
}

using Colour = std::array<std::uint8_t, 3>;

int distance(const Colour &a, const Colour &b) {
  int d = 0;
  for (int i = 0; i < 3; ++i)
    d += (a[i] - b[i]) * (a[i] - b[i]);
  return d;
}

// 256 colours: a pixel at least half covered is opaque in its own colour,
// the rest is transparent. The palette holds the most frequent colours;
// when there are more, each other pixel takes the nearest entry.
Bytes paletteImage(int size) {
  const Bytes rgba = ui::renderIcon(size);
  const std::size_t count = static_cast<std::size_t>(size) * size;
  std::vector<Colour> pixels(count);
  std::map<Colour, int> frequency;
  for (std::size_t i = 0; i < count; ++i) {
    if (rgba[i * 4 + 3] < 128)
      continue;
    pixels[i] = {rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
    ++frequency[pixels[i]];
  }
  std::vector<std::pair<Colour, int>> byUse(frequency.begin(), frequency.end());
  std::stable_sort(byUse.begin(), byUse.end(),
                   [](const auto &a, const auto &b) { return a.second > b.second; });
  std::vector<Colour> palette{{0, 0, 0}}; // entry 0: under transparent pixels
  for (const auto &[colour, uses] : byUse)
    if (palette.size() < 256)
      palette.push_back(colour);

  Bytes out;
  putHeader(out, size, 8);
  for (std::size_t i = 0; i < 256; ++i) {
    const Colour c = i < palette.size() ? palette[i] : Colour{0, 0, 0};
    out.insert(out.end(), {c[2], c[1], c[0], 0});
  }
  const std::size_t stride = rowBytes(size, 8);
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(stride, 0);
    for (int x = 0; x < size; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * size + x;
      if (rgba[i * 4 + 3] < 128)
        continue;
      std::size_t best = 1;
      for (std::size_t p = 2; p < palette.size(); ++p)
        if (distance(palette[p], pixels[i]) < distance(palette[best], pixels[i]))
          best = p;
      row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(best);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  putMask(out, rgba, size, 128);
  return out;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  struct Image {
    int size;
    int bits;
    Bytes data;
  };
  std::vector<Image> images;
  for (int size : {48, 32, 16})
    images.push_back({size, 32, trueColourImage(size)});
  for (int size : {32, 16})
    images.push_back({size, 8, paletteImage(size)});

  Bytes file;
  put16(file, 0);
  put16(file, 1); // an icon
  put16(file, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const Image &image : images) {
    file.push_back(static_cast<std::uint8_t>(image.size));
    file.push_back(static_cast<std::uint8_t>(image.size));
    file.push_back(0); // 256 colours or more
    file.push_back(0);
    put16(file, 1);
    put16(file, static_cast<unsigned>(image.bits));
    put32(file, static_cast<std::uint32_t>(image.data.size()));
    put32(file, offset);
    offset += static_cast<std::uint32_t>(image.data.size());
  }
  for (const Image &image : images)
    file.insert(file.end(), image.data.begin(), image.data.end());

  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char *>(file.data()),
            static_cast<std::streamsize>(file.size()));
  return out ? 0 : 1;
}
