// The program's icon: a globe with a downward arrow at its lower right,
// drawn in code at any size.
#pragma once

#include <cstdint>
#include <vector>

namespace ui {

// The sizes the icon is made in.
inline constexpr int kIconSizes[] = {16, 32, 48};

// Renders the icon as `size` × `size` pixels, row by row from the top, four
// bytes each: red, green, blue and alpha, not premultiplied.
std::vector<std::uint8_t> renderIcon(int size);

} // namespace ui
