// The few file-system operations the ZIP component needs, one
// implementation per platform (posix/, win32/). Paths are UTF-8 and already
// use the platform's separator. Every call may run on any thread; none
// throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/result.h"

namespace archive::fs {

enum class NodeKind {
  Missing,
  File,      // anything that is not a directory, a symbolic link included
  Directory, // a directory, or a link to one
};

// What, if anything, is at `path`. A link to a directory counts as a
// directory; any other link, even a dangling one, as a file.
Result<NodeKind> nodeKind(const std::string &path);

// Creates one directory; its parent must exist. Fails when `path` exists.
Status createDirectory(const std::string &path);

// Renames `from` to `to` on the same volume, replacing a file at `to`.
Status renamePath(const std::string &from, const std::string &to);

// Swaps the files at `a` and `b`, both existing on the same volume, in one
// step: neither path is missing at any moment. False, with nothing done,
// where the platform or the file system has no such operation.
Result<bool> exchangeFiles(const std::string &a, const std::string &b);

// Removes a file (or a link, never what it points to).
Status removeFile(const std::string &path);

// Removes an empty directory.
Status removeEmptyDirectory(const std::string &path);

// Removes `path` and, when it is a directory, everything below it, without
// following links. A missing path is success.
Status removeTree(const std::string &path);

// A file's attributes as the platform keeps them, to be put back unchanged.
struct Attributes {
  std::uint32_t bits = 0;
  bool link = false; // a symbolic link, whose own attributes do not matter
};
Result<Attributes> readAttributes(const std::string &path);
Status writeAttributes(const std::string &path, Attributes attributes);

// Makes a file plainly writable: clears read-only (and on Windows hidden
// and system) attributes. On POSIX the owner's write permission is added
// and the other permission bits are kept. `current` are the file's
// attributes as readAttributes gave them, to spare a second look.
Status setNormalAttributes(const std::string &path, Attributes current);

// Up to `count` bytes from the start of the file at `path`; fewer when the
// file is shorter.
Result<std::string> readHead(const std::string &path, std::size_t count);

// A name stored without the UTF-8 flag, turned into UTF-8: on Windows it is
// in the system's ANSI code page; elsewhere it is taken as stored.
std::string nameFromLocalEncoding(const std::string &stored);

// Free bytes for an unprivileged user on the volume holding `path`.
Result<std::uint64_t> freeSpace(const std::string &path);

// A file open for reading at any offset. The destructor closes it.
class InputFile {
public:
  // Opens the existing file at `path`.
  static Result<std::unique_ptr<InputFile>> open(const std::string &path);

  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;
  ~InputFile();

  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }
  // Reads up to `count` bytes at `offset`; fewer only at the end of the
  // file.
  Result<std::size_t> readAt(void *data, std::size_t count,
                             std::uint64_t offset);

private:
  InputFile(std::intptr_t handle, std::uint64_t size, std::string path)
      : handle_(handle), size_(size), path_(std::move(path)) {}
  std::intptr_t handle_; // a descriptor, or a HANDLE on Windows
  std::uint64_t size_;
  std::string path_;
};

// A new file open for writing. Move-only; the destructor closes it.
class OutputFile {
public:
  // Whether the new file may be executed, where the platform knows such a
  // permission (POSIX); the system's file-creation mask still applies.
  enum class Mode { Plain, Executable };

  // Creates `path`, which must not exist yet.
  static Result<OutputFile> create(const std::string &path, Mode mode);

  OutputFile(OutputFile &&other) noexcept;
  OutputFile &operator=(OutputFile &&other) noexcept;
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  ~OutputFile();

  // Writes all of `size` bytes.
  Status write(const void *data, std::size_t size);
  // Closes the file; reports a failure the system gives at close.
  Status close();

private:
  explicit OutputFile(std::intptr_t handle, std::string path)
      : handle_(handle), path_(std::move(path)) {}
  std::intptr_t handle_ = -1; // a descriptor, or a HANDLE on Windows
  std::string path_;
};

} // namespace archive::fs
