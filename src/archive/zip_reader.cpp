#include "archive/zip_reader.h"

#include <algorithm>
#include <unzip.h>

#include "archive/zip_open.h"

namespace archive {
namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

Error readerError(std::string operation, const std::string &path,
                  const ZipEntry *entry = nullptr) {
  std::string where = path;
  if (entry != nullptr) {
    where += ": " + entry->storedName;
  }
  return Error{kReaderErrorCode, std::move(operation), std::move(where)};
}

std::uint16_t little16(const unsigned char *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// The length of the zip64 extended-information field in a central record's
// extra data, or -1 when it has none.
long zip64FieldLength(const unsigned char *extra, std::size_t size) {
  std::size_t at = 0;
  while (size - at >= 4) {
    const std::uint16_t id = little16(extra + at);
    const std::uint16_t length = little16(extra + at + 2);
    if (id == kZip64ExtraId) {
      return length;
    }
    at += 4 + static_cast<std::size_t>(length);
    if (at > size) {
      break;
    }
  }
  return -1;
}

} // namespace

void ZipReader::Closer::operator()(void *handle) const {
  unzClose(static_cast<unzFile>(handle));
}

Result<ZipReader> ZipReader::open(const std::string &path) {
  unzFile handle = openUnzip(path);
  if (handle == nullptr) {
    return readerError("open archive (no readable central directory)", path);
  }
  return ZipReader(handle, path);
}

std::vector<ZipEntry> ZipReader::listEntries() {
  unzFile handle = static_cast<unzFile>(handle_.get());
  std::vector<ZipEntry> entries;
  // Names and extra fields have 16-bit lengths.
  std::vector<char> name(65536);
  std::vector<unsigned char> extra(65536);
  for (int step = unzGoToFirstFile(handle); step == UNZ_OK;
       step = unzGoToNextFile(handle)) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(handle, &info, name.data(),
                                static_cast<uLong>(name.size()), extra.data(),
                                static_cast<uLong>(extra.size()), nullptr,
                                0) != UNZ_OK) {
      break;
    }
    unz64_file_pos position{};
    if (unzGetFilePos64(handle, &position) != UNZ_OK) {
      break;
    }
    ZipEntry entry;
    entry.storedName.assign(
        name.data(), std::min<std::size_t>(info.size_filename, name.size()));
    entry.versionMadeBy = static_cast<std::uint16_t>(info.version);
    entry.flags = static_cast<std::uint16_t>(info.flag);
    entry.method = static_cast<std::uint16_t>(info.compression_method);
    entry.externalAttributes = static_cast<std::uint32_t>(info.external_fa);
    entry.compressedSize = info.compressed_size;
    entry.uncompressedSize = info.uncompressed_size;
    entry.directoryOffset = position.pos_in_zip_directory;
    entry.fileNumber = position.num_of_file;

    const bool hasZip64Field =
        zip64FieldLength(
            extra.data(),
            std::min<std::size_t>(info.size_file_extra, extra.size())) >= 0;
    // A reader that takes the zip64 field never reports the 32-bit marker
    // that sends it there.
    if (hasZip64Field &&
        (info.compressed_size == kMax32 || info.uncompressed_size == kMax32)) {
      entry.zip64Unreadable = true;
    }
    // minizip refuses to open a method it cannot inflate; such an entry is
    // refused later on its own account, not taken as damage.
    if (entry.supportedMethod() && !entry.zip64Unreadable) {
      if (unzOpenCurrentFile(handle) != UNZ_OK) {
        // The local header is missing or does not match. With a zip64
        // field the fault is more likely the local header's offset, which
        // this reader may have misread.
        if (!hasZip64Field) {
          break;
        }
        entry.zip64Unreadable = true;
      } else {
        unzCloseCurrentFile(handle);
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

Status ZipReader::unpack(const ZipEntry &entry, fs::OutputFile &out,
                         std::vector<unsigned char> &buffer,
                         const std::atomic<bool> &stop) {
  unzFile handle = static_cast<unzFile>(handle_.get());
  unz64_file_pos position{entry.directoryOffset, entry.fileNumber};
  if (unzGoToFilePos64(handle, &position) != UNZ_OK) {
    return readerError("find entry", path_, &entry);
  }
  if (unzOpenCurrentFile(handle) != UNZ_OK) {
    return readerError("open entry", path_, &entry);
  }
  std::uint64_t written = 0;
  Status result;
  while (result) {
    if (stop.load(std::memory_order_relaxed)) {
      result = readerError("stopped", path_, &entry);
      break;
    }
    // Ask for one byte more than is left, so that an entry producing more
    // than it declares is caught without unpacking the surplus.
    const std::uint64_t left = entry.uncompressedSize - written;
    const auto wanted =
        static_cast<unsigned>(std::min<std::uint64_t>(buffer.size(), left + 1));
    const int got = unzReadCurrentFile(handle, buffer.data(), wanted);
    if (got < 0) {
      result = readerError("read entry (error " + std::to_string(got) + ")",
                           path_, &entry);
    } else if (got == 0) {
      break;
    } else if (static_cast<std::uint64_t>(got) > left) {
      result = readerError("entry longer than it declares", path_, &entry);
    } else {
      written += static_cast<std::uint64_t>(got);
      result = out.write(buffer.data(), static_cast<std::size_t>(got));
    }
  }
  // minizip checks the CRC against the central directory's at close, but
  // only when it has read the whole declared size: a shorter entry is
  // caught by the size check after it.
  const int closed = unzCloseCurrentFile(handle);
  if (!result) {
    return result;
  }
  if (closed != UNZ_OK) {
    return readerError("close entry (error " + std::to_string(closed) + ")",
                       path_, &entry);
  }
  if (written != entry.uncompressedSize) {
    return readerError("entry shorter than it declares", path_, &entry);
  }
  return {};
}

} // namespace archive
