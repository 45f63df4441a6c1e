// Helpers for the ZIP component's tests: scratch folders, archives written
// with minizip's own writer, Python's zipfile or `zip`, byte patches, and
// snapshots of a folder to compare byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace archive::testing {

// A fresh folder under the system's temporary directory, removed with all
// its contents when the object goes.
class ScratchFolder {
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::string &path() const { return path_; }
  std::string operator/(const std::string &relative) const {
    return path_ + "/" + relative;
  }

private:
  std::string path_;
};

// One entry for writeZip.
struct FixtureEntry {
  std::string name;
  std::string data;
  bool deflate = true;
  // Unix mode for the upper half of the external attributes (0 for none),
  // and DOS attributes for the lower half.
  std::uint32_t unixMode = 0;
  std::uint32_t dosAttributes = 0;
  bool utf8Flag = false;
};

// Writes an archive with minizip's writer; a Unix host is recorded as the
// maker when any entry has a Unix mode.
void writeZip(const std::string &path,
              const std::vector<FixtureEntry> &entries);

// Runs a Python 3 script (given as text) with the arguments; fails the
// test when it does not exit with 0.
void runPython(const std::string &script, const std::vector<std::string> &args);

// Runs a shell command; returns its exit status.
int runShell(const std::string &command);

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &data);

// Replaces every occurrence of `from` by `to` (same length) in the file;
// returns how many were replaced.
int patchBytes(const std::string &path, const std::string &from,
               const std::string &to);

// Offsets of every occurrence of `what` in `data`.
std::vector<std::size_t> findAll(const std::string &data,
                                 const std::string &what);

// What is in a folder, recursively: for each relative path its kind, its
// permission bits and, for a file, its bytes; for a link its target.
struct Node {
  char kind = 'f'; // 'f' file, 'd' directory, 'l' link
  unsigned mode = 0;
  std::string content;
  bool operator==(const Node &) const = default;
};
using Snapshot = std::map<std::string, Node>;
Snapshot snapshot(const std::string &folder);

// A readable list of the differences, for failure messages.
std::string describeDifference(const Snapshot &expected,
                               const Snapshot &actual);

} // namespace archive::testing
