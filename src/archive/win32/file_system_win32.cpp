// The ZIP component's file operations on Windows, through the wide
// (UTF-16) API so that every name survives whatever the system's code page.
#include "archive/file_system.h"

#include "platform/win32/text.h"
#include "platform/win32/win32.h"

namespace archive::fs {
namespace {

using platform::win32::toWide;

// Attributes that make a file awkward to replace or delete.
constexpr DWORD kUnusualAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

Error systemError(const char *operation, const std::string &path) {
  return Error{static_cast<int>(::GetLastError()), operation, path};
}

Status checked(BOOL done, const char *operation, const std::string &path) {
  if (!done) {
    return systemError(operation, path);
  }
  return {};
}

bool isMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Owns a handle from CreateFileW for the length of one operation.
class ScopedHandle {
public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) {
      ::CloseHandle(handle_);
    }
  }
  ScopedHandle(const ScopedHandle &) = delete;
  ScopedHandle &operator=(const ScopedHandle &) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

private:
  HANDLE handle_;
};

constexpr std::intptr_t kNoHandle =
    static_cast<std::intptr_t>(-1); // INVALID_HANDLE_VALUE as a number

} // namespace

Result<NodeKind> nodeKind(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesW(toWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (isMissing(::GetLastError())) {
      return NodeKind::Missing;
    }
    return systemError("GetFileAttributes", path);
  }
  // A directory link or junction carries the directory attribute as well.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NodeKind::Directory
                                                      : NodeKind::File;
}

Status createDirectory(const std::string &path) {
  return checked(::CreateDirectoryW(toWide(path).c_str(), nullptr),
                 "CreateDirectory", path);
}

// Windows has no exchange of two names; the installation moves the old
// file aside and the new one in.
Result<bool> exchangeFiles(const std::string &, const std::string &) {
  return false;
}

Status renamePath(const std::string &from, const std::string &to) {
  return checked(::MoveFileExW(toWide(from).c_str(), toWide(to).c_str(),
                               MOVEFILE_REPLACE_EXISTING),
                 "MoveFileEx", from + " -> " + to);
}

// Deletes only a file that no one else has open. DeleteFile would accept a
// file another process holds with delete sharing and leave its name in
// place until that process closes it, which keeps its folder from being
// removed; opening the file without any sharing first finds such a file in
// use, and the deletion through that one handle then takes effect at once.
Status removeFile(const std::string &path) {
  const ScopedHandle owner(::CreateFileW(
      toWide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!owner.valid()) {
    return systemError("CreateFile", path);
  }
  const HANDLE file = owner.get();
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  BOOL deleted = ::SetFileInformationByHandle(file, FileDispositionInfo,
                                              &disposition, sizeof disposition);
  // Windows refuses to delete a read-only file, which POSIX allows; the
  // attribute is cleared and the deletion tried once more.
  FILE_BASIC_INFO basic{};
  if (!deleted && ::GetLastError() == ERROR_ACCESS_DENIED &&
      ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    const DWORD original = basic.FileAttributes;
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
      deleted = ::SetFileInformationByHandle(file, FileDispositionInfo,
                                             &disposition, sizeof disposition);
      if (!deleted) {
        const DWORD code = ::GetLastError();
        basic.FileAttributes = original;
        ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
        ::SetLastError(code);
      }
    }
  }
  return checked(deleted, "DeleteFile", path);
}

Status removeEmptyDirectory(const std::string &path) {
  return checked(::RemoveDirectoryW(toWide(path).c_str()), "RemoveDirectory",
                 path);
}

Status removeTree(const std::string &path) {
  const std::wstring wide = toWide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (isMissing(::GetLastError())) {
      return {};
    }
    return systemError("GetFileAttributes", path);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return removeFile(path);
  }
  // A directory link or junction is removed itself, never what it points
  // to.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return removeEmptyDirectory(path);
  }
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((wide + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return systemError("FindFirstFile", path);
  }
  Status firstFailure;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    Status removed =
        removeTree(path + "\\" + platform::win32::toUtf8(name));
    if (!removed && firstFailure) {
      firstFailure = removed;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  if (!firstFailure) {
    return firstFailure;
  }
  return removeEmptyDirectory(path);
}

Result<Attributes> readAttributes(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesW(toWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return systemError("GetFileAttributes", path);
  }
  // A link's own attributes are put back like a file's: on Windows they
  // are the ones the user sees.
  return Attributes{static_cast<std::uint32_t>(attributes), false};
}

Status writeAttributes(const std::string &path, Attributes attributes) {
  if (attributes.link) {
    return {};
  }
  const DWORD bits = attributes.bits != 0 ? static_cast<DWORD>(attributes.bits)
                                          : FILE_ATTRIBUTE_NORMAL;
  return checked(::SetFileAttributesW(toWide(path).c_str(), bits),
                 "SetFileAttributes", path);
}

Status setNormalAttributes(const std::string &path, Attributes current) {
  if ((current.bits & kUnusualAttributes) == 0) {
    return {};
  }
  return checked(
      ::SetFileAttributesW(toWide(path).c_str(), FILE_ATTRIBUTE_NORMAL),
      "SetFileAttributes", path);
}

std::string nameFromLocalEncoding(const std::string &stored) {
  return platform::win32::codePageToUtf8(stored, CP_ACP);
}

Result<std::uint64_t> freeSpace(const std::string &path) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(toWide(path).c_str(), &available, nullptr,
                             nullptr)) {
    return systemError("GetDiskFreeSpaceEx", path);
  }
  return static_cast<std::uint64_t>(available.QuadPart);
}

Result<std::unique_ptr<InputFile>> InputFile::open(const std::string &path) {
  const HANDLE file =
      ::CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return systemError("CreateFile", path);
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    Error error = systemError("GetFileSizeEx", path);
    ::CloseHandle(file);
    return error;
  }
  return std::unique_ptr<InputFile>(
      new InputFile(reinterpret_cast<std::intptr_t>(file),
                    static_cast<std::uint64_t>(size.QuadPart), path));
}

InputFile::~InputFile() { ::CloseHandle(handleOf(handle_)); }

Result<std::size_t> InputFile::readAt(void *data, std::size_t count,
                                      std::uint64_t offset) {
  char *bytes = static_cast<char *>(data);
  std::size_t done = 0;
  while (done < count) {
    // On a handle opened for synchronous access the offset in OVERLAPPED
    // says where to read, and the call still waits for the data.
    OVERLAPPED at{};
    const std::uint64_t where = offset + done;
    at.Offset = static_cast<DWORD>(where & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    const std::size_t want = count - done;
    DWORD got = 0;
    if (!::ReadFile(handleOf(handle_), bytes + done,
                    static_cast<DWORD>(want < (1u << 30) ? want : (1u << 30)),
                    &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) {
        break;
      }
      return systemError("ReadFile", path_);
    }
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

Result<OutputFile> OutputFile::create(const std::string &path, Mode) {
  // Windows has no execute permission to give; the mode does not matter.
  const HANDLE file =
      ::CreateFileW(toWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return systemError("CreateFile", path);
  }
  return OutputFile(reinterpret_cast<std::intptr_t>(file), path);
}

OutputFile::OutputFile(OutputFile &&other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = kNoHandle;
}

OutputFile &OutputFile::operator=(OutputFile &&other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) {
      ::CloseHandle(handleOf(handle_));
    }
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = kNoHandle;
  }
  return *this;
}

OutputFile::~OutputFile() {
  if (handle_ != kNoHandle) {
    ::CloseHandle(handleOf(handle_));
  }
}

Status OutputFile::write(const void *data, std::size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk =
        static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    if (!::WriteFile(handleOf(handle_), bytes, chunk, &written, nullptr)) {
      return systemError("WriteFile", path_);
    }
    bytes += written;
    size -= written;
  }
  return {};
}

Status OutputFile::close() {
  const HANDLE file = handleOf(handle_);
  handle_ = kNoHandle;
  return checked(::CloseHandle(file), "CloseHandle", path_);
}

} // namespace archive::fs
