#include "download/parts.h"

namespace download {

std::vector<Part> splitParts(std::int64_t length, int count) {
  if (length < kMinSplitLength || count < 1)
    count = 1;
  std::vector<Part> parts(static_cast<std::size_t>(count));
  const std::int64_t each = length / count;
  for (int i = 0; i < count; ++i) {
    parts[static_cast<std::size_t>(i)].start = each * i;
    parts[static_cast<std::size_t>(i)].end = i + 1 == count ? length : each * (i + 1);
  }
  return parts;
}

std::optional<std::size_t> chooseTakeover(const std::vector<Part> &parts) {
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (parts[i].owner == 0 && !parts[i].complete())
      return i;
  return std::nullopt;
}

bool allComplete(const std::vector<Part> &parts) {
  for (const Part &part : parts)
    if (!part.complete())
      return false;
  return true;
}

PassStep planPass(std::vector<Part> &parts, std::int64_t position, int me) {
  PassStep step;
  std::size_t index = 0;
  while (index < parts.size() && parts[index].end <= position)
    ++index;
  if (index == parts.size())
    return step; // End
  Part &part = parts[index];
  step.part = index;
  step.until = part.end;
  if (position < part.start) {
    // Only a zero-length file has no part covering a position; nothing to do.
    return step;
  }
  if (part.complete() || (part.owner != me && part.owner != 0 && part.active)) {
    step.kind = PassStep::Kind::Discard;
    return step;
  }
  if (part.owner != me) {
    if (position > part.next()) {
      // The missing bytes are already behind this stream.
      step.kind = PassStep::Kind::Discard;
      return step;
    }
    part.owner = me;
    part.active = true;
    step.claimed = true;
  }
  if (position < part.next()) {
    step.kind = PassStep::Kind::Discard;
    step.until = part.next();
  } else if (position == part.next()) {
    step.kind = PassStep::Kind::Write;
  } else {
    // Our own part with a gap before `position`: it needs another pass.
    step.kind = PassStep::Kind::Discard;
  }
  return step;
}

} // namespace download
