// Reading a ZIP archive with zlib's minizip: its catalogue of entries and
// the checked unpacking of one entry into a file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/file_system.h"
#include "archive/result.h"

namespace archive {

// One entry of the central directory, as stored.
struct ZipEntry {
  std::string storedName; // the exact bytes, a zero byte included
  std::uint16_t versionMadeBy = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  // The entry's place, for reopening it on another handle.
  std::uint64_t directoryOffset = 0;
  std::uint64_t fileNumber = 0;
  // Its sizes or its local header's offset are only in a zip64 field that
  // this build of minizip does not read correctly (Debian's 1.1 compares
  // them with an unsigned long of 64 bits and so never takes them).
  bool zip64Unreadable = false;

  bool utf8Name() const { return (flags & 0x0800u) != 0; }
  bool encrypted() const { return (flags & 0x0001u) != 0; }
  // Stored (0) and deflated (8) are what minizip inflates.
  bool supportedMethod() const { return method == 0 || method == 8; }
};

// Reasons for failures that are rules of the reader, not system errors.
inline constexpr int kReaderErrorCode = 0;

// One open archive. Move-only; not shared between threads (open one per
// thread instead).
class ZipReader {
public:
  // Opens the archive and reads its end-of-central-directory record. Fails
  // when there is no readable central directory.
  static Result<ZipReader> open(const std::string &path);

  // The entries in central-directory order. Stops, without failing, before
  // the first entry whose headers are damaged: a central record that cannot
  // be read, or a local header that is missing or does not match it.
  std::vector<ZipEntry> listEntries();

  // Unpacks a file entry into `out` and checks it: no read may fail, the
  // entry may not produce more bytes than it declares, the bytes written
  // must equal its declared size and their CRC-32 the stored one, and
  // minizip must accept the close. `buffer` is scratch space. Returns early
  // with an error when `stop` becomes true.
  Status unpack(const ZipEntry &entry, fs::OutputFile &out,
                std::vector<unsigned char> &buffer,
                const std::atomic<bool> &stop);

private:
  struct Closer {
    void operator()(void *handle) const;
  };
  ZipReader(void *handle, std::string path)
      : handle_(handle), path_(std::move(path)) {}

  std::unique_ptr<void, Closer> handle_; // an unzFile
  std::string path_;
};

} // namespace archive
