// The request a connection sends, built byte for byte. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download {

inline constexpr std::string_view kUserAgent =
    "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";

struct RequestInput {
  std::string_view target;  // the path, or the whole address via a proxy
  std::string_view host;    // the address's host part, as written
  std::string_view referer;
  // The offset to ask from; none for a connection's request made before the
  // task's first reply was read.
  std::optional<std::int64_t> rangeFrom;
  std::string_view cookie;  // empty: no "Cookie:" line
  bool viaProxy = false;
};

// The request header, every line ended by CR LF, closed by an empty line.
// Direct: request line, Host, Accept, Referer, User-Agent, [Range],
// [Cookie], Pragma, Cache-Control, Connection. Through a proxy: request
// line, Host, User-Agent, [Range], [Cookie], Proxy-Connection.
std::string buildRequest(const RequestInput &input);

} // namespace download
