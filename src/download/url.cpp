#include "download/url.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace download {

namespace {

struct KnownScheme {
  std::string_view name;
  Scheme scheme;
  std::uint16_t port;
};

constexpr std::array<KnownScheme, 5> kSchemes{{
    {"http", Scheme::Http, 80},
    {"ftp", Scheme::Ftp, 21},
    {"mms", Scheme::Mms, 1755},
    {"mmst", Scheme::Mmst, 1755},
    {"rtsp", Scheme::Rtsp, 554},
}};

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
  if (text.empty() || text.size() > 5)
    return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535)
    return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// Splits "name:port", "[v6]:port" or a bare name into the name to resolve
// and the port.
bool splitHostPort(std::string_view hostPart, std::uint16_t defaultPort,
                   std::string &name, std::uint16_t &port) {
  std::string_view rest;
  if (!hostPart.empty() && hostPart.front() == '[') {
    const auto close = hostPart.find(']');
    if (close == std::string_view::npos)
      return false;
    name = std::string(hostPart.substr(1, close - 1));
    rest = hostPart.substr(close + 1);
    if (!rest.empty() && rest.front() != ':')
      return false;
  } else {
    const auto colon = hostPart.find(':');
    name = std::string(hostPart.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view{}
                                           : hostPart.substr(colon);
  }
  if (name.empty())
    return false;
  port = defaultPort;
  if (!rest.empty()) {
    auto parsed = parsePort(rest.substr(1));
    if (!parsed)
      return false;
    port = *parsed;
  }
  return true;
}

} // namespace

std::string Url::text() const {
  std::string out = schemeText + "://";
  if (userName) {
    out += *userName;
    if (password)
      out += ":" + *password;
    out += "@";
  }
  return out + hostPart + path;
}

std::optional<Url> parseUrl(std::string_view text) {
  const auto sep = text.find("://");
  if (sep == std::string_view::npos)
    return std::nullopt;
  const std::string_view schemeText = text.substr(0, sep);
  const auto known = std::find_if(kSchemes.begin(), kSchemes.end(), [&](auto &s) {
    return equalNoCase(s.name, schemeText);
  });
  if (known == kSchemes.end())
    return std::nullopt;

  const std::string_view afterScheme = text.substr(sep + 3);
  const auto slash = afterScheme.find('/');
  if (slash == std::string_view::npos)
    return std::nullopt;
  std::string_view hostPart = afterScheme.substr(0, slash);

  Url url;
  url.scheme = known->scheme;
  url.schemeText = std::string(schemeText);
  url.path = std::string(afterScheme.substr(slash));

  if (url.scheme == Scheme::Ftp) {
    const auto at = hostPart.rfind('@');
    if (at != std::string_view::npos) {
      const std::string_view credentials = hostPart.substr(0, at);
      const auto colon = credentials.find(':');
      url.userName = std::string(credentials.substr(0, colon));
      url.password = colon == std::string_view::npos
                         ? std::string()
                         : std::string(credentials.substr(colon + 1));
      hostPart = hostPart.substr(at + 1);
    }
  }
  url.hostPart = std::string(hostPart);
  if (!splitHostPort(hostPart, known->port, url.hostName, url.port))
    return std::nullopt;
  return url;
}

Result<Url> resolveLocation(const Url &current, std::string_view location) {
  // Servers sometimes pad the value; the blanks are never part of it.
  while (!location.empty() && (location.front() == ' ' || location.front() == '\t'))
    location.remove_prefix(1);
  while (!location.empty() && (location.back() == ' ' || location.back() == '\t'))
    location.remove_suffix(1);
  if (location.empty())
    return Error{ErrorKind::Refused, 0, "empty Location"};

  const auto sep = location.find("://");
  const auto firstSlash = location.find('/');
  if (sep != std::string_view::npos && sep < firstSlash) {
    auto url = parseUrl(location);
    if (!url || url->scheme != Scheme::Http)
      return Error{ErrorKind::Refused, 0,
                   "redirect to an address that is not http: " +
                       std::string(location)};
    return *url;
  }
  // A scheme without "//" ("ftp:/x", "mailto:a") is not something we follow;
  // a colon inside a relative path after a "/" is fine.
  const auto colon = location.find(':');
  if (colon != std::string_view::npos && colon < firstSlash &&
      location.find_first_of("?#") > colon)
    return Error{ErrorKind::Refused, 0,
                 "redirect to an address that is not http: " + std::string(location)};

  if (location.substr(0, 2) == "//") {
    auto url = parseUrl(current.schemeText + ":" + std::string(location) +
                        (location.find('/', 2) == std::string_view::npos ? "/" : ""));
    if (!url)
      return Error{ErrorKind::Refused, 0, "unusable Location: " + std::string(location)};
    return *url;
  }

  Url next = current;
  if (location.front() == '/') {
    next.path = std::string(location);
  } else if (location.front() == '?' || location.front() == '#') {
    const auto cut = next.path.find_first_of(location.front() == '?' ? "?#" : "#");
    next.path = next.path.substr(0, cut) + std::string(location);
  } else {
    // Relative to the current path's directory: everything up to and
    // including its last "/" before any query.
    const std::string_view path = current.path;
    const std::string_view noQuery = path.substr(0, path.find_first_of("?#"));
    const auto lastSlash = noQuery.rfind('/');
    next.path = std::string(noQuery.substr(0, lastSlash + 1)) + std::string(location);
  }
  return next;
}

std::string defaultReferer(std::string_view url) {
  const auto lastSlash = url.rfind('/');
  return std::string(url.substr(0, lastSlash == std::string_view::npos ? url.size()
                                                                       : lastSlash));
}

} // namespace download
