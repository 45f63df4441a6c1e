#include "archive/zip_open.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "archive/file_system.h"

namespace archive {
namespace {

// minizip seeks before nearly every read and reads headers a few bytes at
// a time: through stdio, or its own Windows functions, each seek costs a
// system call. This reader keeps the position itself and serves reads from
// two blocks, one usually holding the central directory and the other the
// entry being read, so an archive of thousands of entries is read in few
// calls.
class BlockReader {
public:
  static constexpr std::size_t kBlockSize = 64 * 1024;

  explicit BlockReader(std::unique_ptr<fs::InputFile> file)
      : file_(std::move(file)) {}

  std::size_t read(unsigned char *out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && position_ < file_->size()) {
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
      const auto at = static_cast<std::size_t>(position_ - block->start);
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
      base = file_->size();
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
      return false;
    }
    position_ = base + offset; // a step back arrives as a wrapped offset
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

  // Reads the block starting at `position` into the block filled least
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
    Result<std::size_t> got = file_->readAt(out, count, position);
    if (!got) {
      failed_ = true;
      return 0;
    }
    return got.value();
  }

  std::unique_ptr<fs::InputFile> file_;
  std::uint64_t position_ = 0;
  std::array<Block, 2> blocks_;
  std::size_t next_ = 0;
  bool failed_ = false;
};

BlockReader &readerOf(voidpf stream) {
  return *static_cast<BlockReader *>(stream);
}

// The "file name" minizip passes on is the UTF-8 path given to openUnzip.
voidpf ZCALLBACK openFile(voidpf, const void *path, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
    return nullptr;
  }
  Result<std::unique_ptr<fs::InputFile>> file =
      fs::InputFile::open(*static_cast<const std::string *>(path));
  if (!file) {
    return nullptr;
  }
  return new (std::nothrow) BlockReader(std::move(file.value()));
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
  // minizip hands this pointer, unread, to openFile.
  return unzOpen2_64(&path, &functions);
}

} // namespace archive
