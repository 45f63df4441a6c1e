#include "archive/zip_open.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace archive {
namespace {

// minizip seeks before nearly every read, and reads headers a few bytes at
// a time: through stdio each seek costs a system call. This reader keeps
// the position itself and serves reads from two blocks read with pread,
// one usually holding the central directory and the other the entry being
// read, so an archive of thousands of entries is read in few calls.
class BlockReader {
public:
  static constexpr std::size_t kBlockSize = 64 * 1024;

  BlockReader(int descriptor, std::uint64_t size)
      : descriptor_(descriptor), size_(size) {}
  BlockReader(const BlockReader &) = delete;
  BlockReader &operator=(const BlockReader &) = delete;
  ~BlockReader() { ::close(descriptor_); }

  std::size_t read(unsigned char *out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && position_ < size_) {
      const std::size_t left = count - done;
      Block *block = blockHolding(position_);
      if (block == nullptr && left >= kBlockSize) {
        // Large reads go straight to the caller's buffer.
        const std::size_t got = readAt(out + done, left, position_);
        if (got == 0) {
          break;
        }
        done += got;
        position_ += got;
        continue;
      }
      if (block == nullptr && (block = fill(position_)) == nullptr) {
        break;
      }
      const std::size_t at = static_cast<std::size_t>(position_ - block->start);
      const std::size_t take = std::min(left, block->length - at);
      std::memcpy(out + done, block->data.data() + at, take);
      done += take;
      position_ += take;
    }
    return done;
  }

  bool seek(std::uint64_t offset, int origin) {
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
      base = position_;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
      base = size_;
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
      return false;
    }
    position_ = base + offset;
    return true;
  }

  std::uint64_t tell() const { return position_; }
  bool failed() const { return failed_; }

private:
  struct Block {
    std::vector<unsigned char> data;
    std::uint64_t start = 0;
    std::size_t length = 0; // 0: holds nothing
  };

  Block *blockHolding(std::uint64_t position) {
    for (Block &block : blocks_) {
      if (block.length != 0 && position >= block.start &&
          position - block.start < block.length) {
        return &block;
      }
    }
    return nullptr;
  }

  // Reads the block starting at `position` into the block used least
  // recently.
  Block *fill(std::uint64_t position) {
    Block &block = blocks_[next_];
    next_ = (next_ + 1) % blocks_.size();
    block.data.resize(kBlockSize);
    block.start = position;
    block.length = readAt(block.data.data(), kBlockSize, position);
    return block.length == 0 ? nullptr : &block;
  }

  std::size_t readAt(unsigned char *out, std::size_t count,
                     std::uint64_t position) {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got = pread(descriptor_, out + done, count - done,
                                static_cast<off_t>(position + done));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0) {
        failed_ = true;
        break;
      }
      if (got == 0) {
        break;
      }
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  int descriptor_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::array<Block, 2> blocks_;
  std::size_t next_ = 0;
  bool failed_ = false;
};

BlockReader &readerOf(voidpf stream) {
  return *static_cast<BlockReader *>(stream);
}

voidpf ZCALLBACK openFile(voidpf, const void *path, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
    return nullptr;
  }
  const int descriptor =
      open(static_cast<const char *>(path), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(descriptor);
    return nullptr;
  }
  auto *reader = new (std::nothrow)
      BlockReader(descriptor, static_cast<std::uint64_t>(info.st_size));
  if (reader == nullptr) {
    ::close(descriptor);
  }
  return reader;
}

uLong ZCALLBACK readFile(voidpf, voidpf stream, void *buffer, uLong size) {
  return static_cast<uLong>(
      readerOf(stream).read(static_cast<unsigned char *>(buffer), size));
}

uLong ZCALLBACK writeFile(voidpf, voidpf, const void *, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream) {
  return readerOf(stream).tell();
}

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  return readerOf(stream).seek(offset, origin) ? 0 : -1;
}

int ZCALLBACK closeFile(voidpf, voidpf stream) {
  delete &readerOf(stream);
  return 0;
}

int ZCALLBACK errorOf(voidpf, voidpf stream) {
  return readerOf(stream).failed() ? 1 : 0;
}

} // namespace

unzFile openUnzip(const std::string &path) {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = openFile;
  functions.zread_file = readFile;
  functions.zwrite_file = writeFile;
  functions.ztell64_file = tellFile;
  functions.zseek64_file = seekFile;
  functions.zclose_file = closeFile;
  functions.zerror_file = errorOf;
  return unzOpen2_64(path.c_str(), &functions);
}

} // namespace archive
