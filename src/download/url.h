// Addresses: parsing a task's address and resolving a redirect's Location.
// Pure rules, no I/O.
#pragma once

#include "download/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download {

enum class Scheme { Http, Ftp, Mms, Mmst, Rtsp };

struct Url {
  Scheme scheme = Scheme::Http;
  std::string schemeText; // as written, e.g. "HTTP"
  std::string hostPart;   // sent unchanged as the "Host:" value
  std::string hostName;   // what to resolve: hostPart without port or brackets
  std::uint16_t port = 80;
  std::string path;       // from the first "/" after the host part to the end
  // Only an ftp address may carry these ("user:password@host").
  std::optional<std::string> userName;
  std::optional<std::string> password;

  // The whole address again, as a proxy wants it on the request line.
  std::string text() const;
};

// Parses "scheme://hostpart/path". The scheme is recognised without regard
// to case; the default ports are http 80, ftp 21, mms and mmst 1755, rtsp
// 554. Returns nothing for another scheme, a missing or empty host, a port
// that is not a number from 1 to 65535, or no "/" after the host part.
std::optional<Url> parseUrl(std::string_view text);

// The most redirects one request follows before it fails.
inline constexpr int kMaxRedirects = 20;

// Resolves a "Location" value against the address that answered with it:
// an absolute http address, a network-path reference ("//host/path"), an
// absolute path, or a path relative to the current path's directory (a
// query or fragment alone is kept with the current path). Fails with
// ErrorKind::Refused for an ftp or any other non-http address and for an
// empty value.
Result<Url> resolveLocation(const Url &current, std::string_view location);

// "Referer" when the task gives none: the address cut before its last "/".
std::string defaultReferer(std::string_view url);

} // namespace download
