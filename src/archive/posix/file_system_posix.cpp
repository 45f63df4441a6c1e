#include "archive/file_system.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace archive::fs {
namespace {

Error systemError(const char *operation, const std::string &path) {
  return Error{errno, operation, path};
}

Status checked(int result, const char *operation, const std::string &path) {
  if (result != 0) {
    return systemError(operation, path);
  }
  return {};
}

} // namespace

Result<NodeKind> nodeKind(const std::string &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return NodeKind::Missing;
    }
    return systemError("lstat", path);
  }
  if (S_ISDIR(info.st_mode)) {
    return NodeKind::Directory;
  }
  if (S_ISLNK(info.st_mode)) {
    struct stat target {};
    if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
      return NodeKind::Directory;
    }
  }
  return NodeKind::File;
}

Status createDirectory(const std::string &path) {
  return checked(mkdir(path.c_str(), 0777), "mkdir", path);
}

Status renamePath(const std::string &from, const std::string &to) {
  return checked(rename(from.c_str(), to.c_str()), "rename",
                 from + " -> " + to);
}

Result<bool> exchangeFiles(const std::string &a, const std::string &b) {
#ifdef RENAME_EXCHANGE
  if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) ==
      0) {
    return true;
  }
  // EINVAL or EOPNOTSUPP: a file system without the operation; ENOSYS: an
  // older kernel.
  if (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS) {
    return false;
  }
  return systemError("exchange", a + " <-> " + b);
#else
  (void)a;
  (void)b;
  return false;
#endif
}

Status removeFile(const std::string &path) {
  return checked(unlink(path.c_str()), "unlink", path);
}

Status removeEmptyDirectory(const std::string &path) {
  return checked(rmdir(path.c_str()), "rmdir", path);
}

Status removeTree(const std::string &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return {};
    }
    return systemError("lstat", path);
  }
  if (!S_ISDIR(info.st_mode)) {
    return removeFile(path);
  }
  DIR *directory = opendir(path.c_str());
  if (directory == nullptr) {
    return systemError("opendir", path);
  }
  Status firstFailure;
  while (const dirent *entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    Status removed = removeTree(path + "/" + name);
    if (!removed && firstFailure) {
      firstFailure = removed;
    }
  }
  closedir(directory);
  if (!firstFailure) {
    return firstFailure;
  }
  return removeEmptyDirectory(path);
}

Result<Attributes> readAttributes(const std::string &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return systemError("lstat", path);
  }
  return Attributes{static_cast<std::uint32_t>(info.st_mode & 07777),
                    S_ISLNK(info.st_mode)};
}

Status writeAttributes(const std::string &path, Attributes attributes) {
  // A link has no permissions of its own to put back.
  if (attributes.link) {
    return {};
  }
  return checked(chmod(path.c_str(), static_cast<mode_t>(attributes.bits)),
                 "chmod", path);
}

Status setNormalAttributes(const std::string &path, Attributes current) {
  if (current.link || (current.bits & S_IWUSR) != 0) {
    return {};
  }
  return checked(
      chmod(path.c_str(), static_cast<mode_t>(current.bits | S_IWUSR)), "chmod",
      path);
}

std::string nameFromLocalEncoding(const std::string &stored) { return stored; }

Result<std::uint64_t> freeSpace(const std::string &path) {
  struct statvfs info {};
  if (statvfs(path.c_str(), &info) != 0) {
    return systemError("statvfs", path);
  }
  return static_cast<std::uint64_t>(info.f_bavail) *
         static_cast<std::uint64_t>(info.f_frsize);
}

Result<std::unique_ptr<InputFile>> InputFile::open(const std::string &path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return systemError("open", path);
  }
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    Error error = systemError("fstat", path);
    ::close(descriptor);
    return error;
  }
  return std::unique_ptr<InputFile>(
      new InputFile(descriptor, static_cast<std::uint64_t>(info.st_size), path));
}

InputFile::~InputFile() { ::close(static_cast<int>(handle_)); }

Result<std::size_t> InputFile::readAt(void *data, std::size_t count,
                                      std::uint64_t offset) {
  char *bytes = static_cast<char *>(data);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = pread(static_cast<int>(handle_), bytes + done,
                              count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return systemError("pread", path_);
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Result<OutputFile> OutputFile::create(const std::string &path, Mode mode) {
  const mode_t permissions = mode == Mode::Executable ? 0777 : 0666;
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
  if (descriptor < 0) {
    return systemError("create", path);
  }
  return OutputFile(descriptor, path);
}

OutputFile::OutputFile(OutputFile &&other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
}

OutputFile &OutputFile::operator=(OutputFile &&other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) {
      ::close(static_cast<int>(handle_));
    }
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

OutputFile::~OutputFile() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

Status OutputFile::write(const void *data, std::size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return systemError("write", path_);
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

Status OutputFile::close() {
  const int descriptor = static_cast<int>(handle_);
  handle_ = -1;
  return checked(::close(descriptor), "close", path_);
}

} // namespace archive::fs
