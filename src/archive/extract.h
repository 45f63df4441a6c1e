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
int extract(std::string_view archivePath, std::string_view targetDirectory,
            const ProgressHandler &progress);

} // namespace archive
