// The bookkeeping of a task's parts: how the file is split, which
// connection works on which part, how far each part has got, and what a
// connection does next. Pure: the engine calls these under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace download {

// A file shorter than this is always fetched in one part.
inline constexpr std::int64_t kMinSplitLength = 20480;

struct Part {
  std::int64_t start = 0;
  std::int64_t end = 0;  // one past the part's last byte
  std::int64_t done = 0; // bytes from `start` already in the file
  int owner = 0;         // the connection working on it; 0 for none
  // True once the owner's reply for this part was accepted, so its data is
  // flowing; an owner still waiting for its reply may lose the part to a
  // connection reading the whole file.
  bool active = false;

  std::int64_t length() const { return end - start; }
  std::int64_t next() const { return start + done; }
  bool complete() const { return done >= length(); }
};

// Cuts `length` bytes into `count` consecutive parts of length / count
// bytes, the last also taking the remainder. A length under
// kMinSplitLength or a count below 1 gives one part. Parts start unowned.
std::vector<Part> splitParts(std::int64_t length, int count);

// The first part, in part order, that nobody works on and that is not
// complete.
std::optional<std::size_t> chooseTakeover(const std::vector<Part> &parts);

// True when every part is complete.
bool allComplete(const std::vector<Part> &parts);

// What a connection reading the whole file as one stream does with the
// bytes at `position`.
struct PassStep {
  enum class Kind {
    Discard, // read and drop bytes up to `until`
    Write,   // write bytes up to `until` into part `part`, which it owns
    End,     // the stream has nothing more to give
  };
  Kind kind = Kind::End;
  std::int64_t until = 0;
  std::size_t part = 0;
  // True when this step made connection `me` the part's owner (a takeover).
  bool claimed = false;
};

// Plans the next step of connection `me` whose whole-file stream stands at
// `position`. Bytes of complete parts, and of parts whose owner is
// receiving them, are dropped; a part nobody is receiving is claimed and
// written from where it stopped. Parts are never written out of order, so
// a part whose first missing byte lies behind `position` is left for a
// later pass.
PassStep planPass(std::vector<Part> &parts, std::int64_t position, int me);

} // namespace download
