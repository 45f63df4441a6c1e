// Unpacking a ZIP archive into a directory.
#pragma once

#include <functional>
#include <string_view>

namespace archive {

// Called after each entry with the percentage done, and once at the end.
// Returning false stops the run after the current entry.
using ProgressHandler = std::function<bool(int percent)>;

// Status of extract().
enum ExtractStatus : int {
  kExtractMissing = -1, // the archive file does not exist
  kExtractFailed = 0,   // failed after the archive was found; target unchanged
  kExtractDone = 1,     // the run ended normally
};

// Unpacks the archive at `archivePath` (UTF-8) into `targetDirectory`,
// whole or not at all, calling `progress` on the caller's thread. See
// ExtractStatus for the result.
//
// Every entry is first unpacked into a staging folder inside the target
// directory and checked there (CRC, size, no read error); only when all are
// good are they moved into place, and any failure then puts back every file
// replaced and removes every file and directory added, so that the target
// is left exactly as it was. Worker threads unpack the entries, but every
// call of `progress` comes from the calling thread, in entry order.
//
// Events: after each entry, (index / count) x 100 truncated; then one
// closing event of 100 (0 for an archive without entries), after the
// entries are in place or taken back. A missing archive (-1), and an
// archive refused before anything is written (0: not a ZIP, no central
// directory, a stored name that would land outside the target or clashes
// with another, an entry that cannot be read, declared sizes beyond the
// free space, a file whose directory will not exist), give one event of 0
// and no other.
//
// A handler that returns false stops the run after that event, with status
// 1 and no closing event, and nothing of the archive is installed: a
// stopped update leaves the application as it was rather than half new.
// An empty handler counts as one that always returns true. Never throws.
int extract(std::string_view archivePath, std::string_view targetDirectory,
            const ProgressHandler &progress);

} // namespace archive
