// The directory that holds the program's executable file.
#pragma once

#include <string>
#include <string_view>

namespace process {

// The platform's path separator: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

enum class CodePage { SingleByte, DoubleByte };

// Cuts an executable's full path at its last separator, which is dropped:
// "C:\\app\\updater.exe" gives "C:\\app", "C:\\updater.exe" gives "C:" and
// "\\\\server\\share\\updater.exe" gives "\\\\server\\share". With
// CodePage::DoubleByte a byte of 0x80 or above begins a double-byte
// character whose second byte is never taken as a separator. A path without
// a separator gives the empty text.
std::string cutAtLastSeparator(std::string_view path, char separator,
                               CodePage codePage);
std::u16string cutAtLastSeparator(std::u16string_view path,
                                  char16_t separator);

// The full path of the running program's directory, in UTF-8, without a
// trailing separator. Asked of the system once and remembered.
const std::string &runDirectory();

// The full path of the running program's executable file, in UTF-8; empty
// when the system cannot tell.
std::string executablePath();

} // namespace process
