// Local file names: the name a directory save path receives, and the
// same-name alternatives. Pure; the path style is an argument so that the
// Windows rules are tested on every platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace download {

enum class PathStyle { Posix, Windows };

// True for a byte that separates path components: "/" for Posix, "\" and
// "/" for Windows.
bool isSeparator(char c, PathStyle style);

// Decodes %XX escapes and reads "+" as a space. A "%" not followed by two
// hexadecimal digits is kept as it stands.
std::string percentDecode(std::string_view text);

// The last component of an address's path (after its last "/", before any
// query), decoded.
std::string lastPathComponent(std::string_view path);

// Reduces a name offered by the server or taken from the address to one
// safe file name: only its last component (after any "/" or "\"), never
// "." or "..", no control bytes. None when nothing usable is left.
std::optional<std::string> safeFileName(std::string_view name);

// The path a task saves to. A `savePath` ending in a separator names a
// directory and receives `dispositionName` when the reply gave one,
// otherwise the address's last component; either goes through
// safeFileName. None when a directory path gets no usable name.
std::optional<std::string> settleSavePath(std::string_view savePath,
                                          const std::optional<std::string> &dispositionName,
                                          std::string_view urlPath, PathStyle style);

// The most renames tried for a path that exists.
inline constexpr int kMaxSameNameTries = 99;

// `path` with "(n)" put before the first "." of its file name (after the
// last separator), or at its end when the name has no ".".
std::string sameNameCandidate(std::string_view path, int n, PathStyle style);

} // namespace download
