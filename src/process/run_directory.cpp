#include "process/run_directory.h"

namespace process {

std::string cutAtLastSeparator(std::string_view path, char separator,
                               CodePage codePage) {
  std::size_t cut = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == separator) {
      cut = i;
    } else if (codePage == CodePage::DoubleByte &&
               static_cast<unsigned char>(path[i]) >= 0x80) {
      ++i; // the second byte of the character
    }
  }
  return cut == std::string_view::npos ? std::string()
                                       : std::string(path.substr(0, cut));
}

std::u16string cutAtLastSeparator(std::u16string_view path,
                                  char16_t separator) {
  const std::size_t cut = path.rfind(separator);
  return cut == std::u16string_view::npos ? std::u16string()
                                          : std::u16string(path.substr(0, cut));
}

const std::string &runDirectory() {
  // The path is UTF-8 on every platform, and no byte of a UTF-8 character
  // but the character itself can be a separator.
  static const std::string directory = cutAtLastSeparator(
      executablePath(), kPathSeparator, CodePage::SingleByte);
  return directory;
}

} // namespace process
