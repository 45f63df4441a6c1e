#include "process/command_line.h"

namespace process {
namespace {

template <class Char> constexpr bool leadsDoubleByte(Char c) {
  if constexpr (sizeof(Char) == 1)
    return static_cast<unsigned char>(c) >= 0x80;
  else
    return false;
}

template <class Char> constexpr bool isSeparator(Char c) {
  const auto u = static_cast<std::make_unsigned_t<Char>>(c);
  return u >= 0x01 && u <= 0x20;
}

template <class Char>
std::vector<std::basic_string<Char>>
split(std::basic_string_view<Char> line) {
  if (auto nul = line.find(Char(0)); nul != line.npos)
    line = line.substr(0, nul);

  const std::size_t n = line.size();
  std::size_t i = 0;
  // Advances over one character: two units for a double-byte character.
  auto step = [&](std::size_t at) {
    return leadsDoubleByte(line[at]) && at + 1 < n ? at + 2 : at + 1;
  };

  // The program's name.
  if (n > 0 && line[0] == Char('"')) {
    i = 1;
    while (i < n && line[i] != Char('"'))
      i = step(i);
    if (i < n)
      ++i; // the closing quote
    if (i < n && line[i] == Char(' '))
      ++i;
  } else {
    while (i < n && line[i] != Char(' '))
      i = step(i);
    if (i < n)
      ++i; // the blank
  }

  std::vector<std::basic_string<Char>> args;
  while (i < n) {
    const Char c = line[i];
    if (c == Char('"')) {
      std::size_t start = ++i;
      while (i < n && line[i] != Char('"'))
        i = step(i);
      args.emplace_back(line.substr(start, i - start));
      if (i < n)
        ++i; // the closing quote
    } else if (isSeparator(c)) {
      ++i;
    } else {
      std::size_t start = i;
      while (i < n && line[i] != Char('"') && !isSeparator(line[i]))
        i = step(i);
      args.emplace_back(line.substr(start, i - start));
    }
  }
  return args;
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
  return split(line);
}

std::vector<std::u16string> splitCommandLine(std::u16string_view line) {
  return split(line);
}

} // namespace process
