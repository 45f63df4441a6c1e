// Rules for the names stored in an archive and for the paths made from them.
// Pure functions: no file system, no platform calls, so the rules of both
// platforms are tested everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "process/run_directory.h"

namespace archive {

// Which platform's rules apply to a name or a path.
enum class NameStyle { Posix, Windows };

inline constexpr NameStyle kNativeNameStyle =
    process::kPathSeparator == '\\' ? NameStyle::Windows : NameStyle::Posix;

// The folder inside the target directory in which a run unpacks and checks
// its entries before moving them into place. An archive may not use it.
inline constexpr std::string_view kStagingFolderName = ".update-staging";

// The folder, beside the staging folder in the target directory, that
// holds old copies of replaced files which could not be deleted at the end
// of an update. Windows lets a running program or a loaded library be
// renamed but not deleted, so its old copy waits there until the next
// start of the updater removes it. An archive may not use it either.
inline constexpr std::string_view kInUseFolderName = ".update-in-use";

// Why a stored name is refused.
enum class NameProblem {
  None,
  Empty,              // names nothing: "", ".", or "." and "/" only, but
                      // for a directory ("./") naming the target itself
  Absolute,           // begins with "/" or "\"
  DriveLetter,        // begins with a letter and ":"
  ParentComponent,    // has a ".." component
  NulByte,            // holds a zero byte
  InvalidUtf8,        // marked as UTF-8 but is not
  StagingFolder,      // its first component is kStagingFolderName or
                      // kInUseFolderName
  Colon,              // Windows: ":" anywhere (streams, drives)
  ReservedDeviceName, // Windows: CON, PRN, AUX, NUL, COM0-9, LPT0-9
  TrailingDotOrSpace, // Windows: a component ending in "." or " "
  InvalidCharacter,   // Windows: < > " | ? * or a control character
};

// Splits a stored name at "/" and at "\" (both count as separators on every
// platform), dropping empty and "." components. Views into `name`.
std::vector<std::string_view> splitEntryName(std::string_view name);

// Checks one stored name, already decoded to UTF-8 where its flag says so.
// A name that splits into no component but ends with a separator ("./")
// passes: it is a directory entry for the target directory itself.
NameProblem checkEntryName(std::string_view name, NameStyle style);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

// Whether `path` is absolute: begins with "/" on POSIX; on Windows begins
// with a drive letter and a separator, or with two separators (a UNC path).
bool isAbsolutePath(std::string_view path, NameStyle style);

// The target path of an entry: `directory`, then a separator unless it
// already ends with one, then the components joined with the separator.
std::string joinTargetPath(std::string_view directory,
                           const std::vector<std::string_view> &components,
                           NameStyle style);

// The directories that make up `path`, outermost first, ending with `path`
// itself: "/a/b" gives "/a" and "/a/b". The root, a drive ("C:", "C:\") and
// a UNC server and share are left out, as they cannot be created.
std::vector<std::string> directoryChain(std::string_view path, NameStyle style);

// The names seen in one archive, to find two entries that name the same
// file (case-insensitively on Windows) and a name used both as a file and
// as a directory. Duplicate directory entries are allowed.
class NameSet {
public:
  explicit NameSet(NameStyle style) : style_(style) {}

  // Adds an entry; false when it clashes with an entry added before.
  bool add(const std::vector<std::string_view> &components, bool directory);

  // Whether `components` (a directory) is a directory entry added before or
  // a parent of an entry added before.
  bool hasDirectory(const std::vector<std::string_view> &components) const;

private:
  std::string key(const std::vector<std::string_view> &components,
                  std::size_t count) const;

  NameStyle style_;
  std::unordered_map<std::string, bool> isDirectory_; // by key
};

// A directory entry: the DOS directory bit 0x10, the Unix directory bit
// 0x40000000, or a name ending in "/" (or "\").
bool isDirectoryEntry(std::uint32_t externalAttributes, std::string_view name);

// A symbolic link: Unix file type 0120000 in the upper half.
bool isSymbolicLinkEntry(std::uint32_t externalAttributes);

// A file that a Unix host stored with an execute permission.
bool isExecutableEntry(std::uint16_t versionMadeBy,
                       std::uint32_t externalAttributes);

// The progress value after entry `index` of `count`: (index / count) x 100
// in double precision, truncated toward zero.
int progressPercent(std::size_t index, std::size_t count);

} // namespace archive
