// A fresh directory under the system's temporary folder, removed with all it
// holds when the owner goes away.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
  // Creates "<tmp>/<prefix>XXXXXX". Aborts the test program when it cannot.
  explicit TempDir(const std::string &prefix = "updater-test.");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // The path of `name` inside the directory.
  std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

// Writes `contents` to `path`, replacing the file. Aborts on failure.
void writeFile(const std::filesystem::path &path, const std::string &contents);
// The whole contents of `path`; empty when it cannot be read.
std::string readFile(const std::filesystem::path &path);
// `size` bytes that repeat no short pattern, the same for the same seed, so a
// byte written at the wrong offset never matches by chance.
std::string patternBytes(std::size_t size, unsigned seed = 1);

} // namespace testsupport
