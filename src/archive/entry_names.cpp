#include "archive/entry_names.h"

#include <array>

namespace archive {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// Windows opens a device for these names whatever extension follows, and
// ignores spaces before the extension: "con", "Con.txt" and "CON .log" all
// name the console.
bool isReservedDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') {
    base.remove_suffix(1);
  }
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN",
                                                             "AUX", "NUL"};
  for (std::string_view name : kPlain) {
    if (equalsIgnoringAsciiCase(base, name)) {
      return true;
    }
  }
  if (base.size() < 4) {
    return false;
  }
  const std::string_view prefix = base.substr(0, 3);
  if (!equalsIgnoringAsciiCase(prefix, "COM") &&
      !equalsIgnoringAsciiCase(prefix, "LPT")) {
    return false;
  }
  const std::string_view number = base.substr(3);
  // The digits, and the superscript digits one, two and three, which
  // Windows also takes as port numbers.
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') {
    return true;
  }
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool isInvalidWindowsCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' ||
         c == '?' || c == '*';
}

} // namespace

std::vector<std::string_view> splitEntryName(std::string_view name) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || isSeparator(name[i])) {
      const std::string_view component = name.substr(start, i - start);
      if (!component.empty() && component != ".") {
        components.push_back(component);
      }
      start = i + 1;
    }
  }
  return components;
}

NameProblem checkEntryName(std::string_view name, NameStyle style) {
  if (name.find('\0') != std::string_view::npos) {
    return NameProblem::NulByte;
  }
  if (!name.empty() && isSeparator(name[0])) {
    return NameProblem::Absolute;
  }
  if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':') {
    return NameProblem::DriveLetter;
  }
  const std::vector<std::string_view> components = splitEntryName(name);
  if (components.empty()) {
    // "./", as some archivers store first, names the target directory
    // itself; any other name without a component names nothing.
    return !name.empty() && isSeparator(name.back()) ? NameProblem::None
                                                     : NameProblem::Empty;
  }
  for (std::string_view component : components) {
    if (component == "..") {
      return NameProblem::ParentComponent;
    }
  }
  // The staging folder is compared without case everywhere: the target may
  // lie on a volume that ignores case even on POSIX.
  if (equalsIgnoringAsciiCase(components.front(), kStagingFolderName) ||
      equalsIgnoringAsciiCase(components.front(), kInUseFolderName)) {
    return NameProblem::StagingFolder;
  }
  if (style == NameStyle::Windows) {
    if (name.find(':') != std::string_view::npos) {
      return NameProblem::Colon;
    }
    for (std::string_view component : components) {
      for (char c : component) {
        if (isInvalidWindowsCharacter(c)) {
          return NameProblem::InvalidCharacter;
        }
      }
      if (component.back() == '.' || component.back() == ' ') {
        return NameProblem::TrailingDotOrSpace;
      }
      if (isReservedDeviceName(component)) {
        return NameProblem::ReservedDeviceName;
      }
    }
  }
  return NameProblem::None;
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) {
        return false;
      }
      value = (value << 6) | (next & 0x3Fu);
    }
    const bool overlong =
        (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (overlong || surrogate || value > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

bool isAbsolutePath(std::string_view path, NameStyle style) {
  if (style == NameStyle::Posix) {
    return !path.empty() && path[0] == '/';
  }
  if (path.size() >= 3 && isAsciiLetter(path[0]) && path[1] == ':' &&
      isSeparator(path[2])) {
    return true;
  }
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

std::string joinTargetPath(std::string_view directory,
                           const std::vector<std::string_view> &components,
                           NameStyle style) {
  const char separator = style == NameStyle::Windows ? '\\' : '/';
  std::string path(directory);
  for (std::string_view component : components) {
    const bool endsWithSeparator =
        !path.empty() && (path.back() == separator ||
                          (style == NameStyle::Windows && path.back() == '/'));
    if (!endsWithSeparator) {
      path += separator;
    }
    path += component;
  }
  return path;
}

std::vector<std::string> directoryChain(std::string_view path,
                                        NameStyle style) {
  const auto separatorAt = [&](std::size_t i) {
    return style == NameStyle::Windows ? isSeparator(path[i]) : path[i] == '/';
  };
  // Skip what cannot be created: the root, a drive, a UNC server and share.
  std::size_t skip = 0;
  if (style == NameStyle::Windows && path.size() >= 2 &&
      isAsciiLetter(path[0]) && path[1] == ':') {
    skip = 2;
  } else if (style == NameStyle::Windows && path.size() >= 2 &&
             isSeparator(path[0]) && isSeparator(path[1])) {
    std::size_t seen = 0;
    skip = path.size();
    for (std::size_t i = 2; i < path.size(); ++i) {
      if (isSeparator(path[i]) && ++seen == 2) {
        skip = i;
        break;
      }
    }
  }
  std::vector<std::string> chain;
  for (std::size_t i = skip; i <= path.size(); ++i) {
    if (i == path.size() || separatorAt(i)) {
      // Only a prefix that ends in a name (not in a separator) is a
      // directory of its own.
      if (i > skip && !separatorAt(i - 1)) {
        chain.emplace_back(path.substr(0, i));
      }
    }
  }
  return chain;
}

std::string NameSet::key(const std::vector<std::string_view> &components,
                         std::size_t count) const {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      text += '/';
    }
    text += components[i];
  }
  if (style_ == NameStyle::Windows) {
    for (char &c : text) {
      c = asciiLower(c);
    }
  }
  return text;
}

bool NameSet::add(const std::vector<std::string_view> &components,
                  bool directory) {
  if (components.empty()) {
    return false;
  }
  for (std::size_t count = 1; count < components.size(); ++count) {
    const auto [place, added] =
        isDirectory_.emplace(key(components, count), true);
    if (!added && !place->second) {
      return false; // a parent was stored as a file
    }
  }
  const auto [place, added] =
      isDirectory_.emplace(key(components, components.size()), directory);
  if (added) {
    return true;
  }
  return directory && place->second;
}

bool NameSet::hasDirectory(
    const std::vector<std::string_view> &components) const {
  const auto place = isDirectory_.find(key(components, components.size()));
  return place != isDirectory_.end() && place->second;
}

bool isDirectoryEntry(std::uint32_t externalAttributes, std::string_view name) {
  return (externalAttributes & 0x10u) != 0 ||
         (externalAttributes & 0x40000000u) != 0 ||
         (!name.empty() && isSeparator(name.back()));
}

bool isSymbolicLinkEntry(std::uint32_t externalAttributes) {
  return ((externalAttributes >> 16) & 0170000u) == 0120000u;
}

bool isExecutableEntry(std::uint16_t versionMadeBy,
                       std::uint32_t externalAttributes) {
  constexpr unsigned kUnixHost = 3;
  constexpr unsigned kMacOsXHost = 19;
  const unsigned host = versionMadeBy >> 8;
  return (host == kUnixHost || host == kMacOsXHost) &&
         ((externalAttributes >> 16) & 0111u) != 0;
}

int progressPercent(std::size_t index, std::size_t count) {
  if (count == 0) {
    return 0;
  }
  return static_cast<int>(static_cast<double>(index) /
                          static_cast<double>(count) * 100.0);
}

} // namespace archive
