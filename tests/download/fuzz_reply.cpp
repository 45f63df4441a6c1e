// Feeds arbitrary bytes to the reply-header reader in fragments, parses what
// it collected, and resolves the Location it found (or the input itself)
// against a fixed address. Finds crashes, hangs and sanitizer reports.
#include "download/reply_header.h"
#include "download/url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);

  // The first byte chooses the fragment size, so one input is read in the
  // way a slow socket might deliver it.
  const std::size_t step = size > 0 ? 1 + data[0] % 64 : 1;
  download::ReplyHeaderReader reader;
  std::size_t offset = 0;
  while (offset < input.size() && reader.state() == download::ReplyHeaderReader::State::NeedMore) {
    const std::string_view fragment = input.substr(offset, step);
    const std::size_t taken = reader.feed(fragment);
    if (taken > fragment.size())
      std::abort();
    offset += taken;
    if (taken < fragment.size())
      break;
  }
  if (reader.text().size() > download::kMaxReplyHeader + 1)
    std::abort();

  static const auto base = download::parseUrl("http://example.com:8080/dir/sub/file.zip?q=1");
  auto header = download::parseReplyHeader(reader.text());
  if (header) {
    if (header->contentLength && *header->contentLength < 0)
      std::abort();
    if (header->location)
      (void)download::resolveLocation(*base, *header->location);
  }
  auto resolved = download::resolveLocation(*base, input);
  if (resolved && resolved->scheme != download::Scheme::Http)
    std::abort();
  (void)download::parseContentRange(input);
  (void)download::dispositionFileName(input);
  return 0;
}
