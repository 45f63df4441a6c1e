// Following 301 and 302 replies: where the next request goes, which cookie
// it carries, and when to give up. Pure.
#pragma once

#include "download/reply_header.h"
#include "download/result.h"
#include "download/url.h"

#include <string>

namespace download {

class RedirectTrail {
public:
  explicit RedirectTrail(Url start) : current_(std::move(start)) {}

  // Takes a redirect reply: the next address is its Location resolved
  // against the current one, and its first cookie, if it set one, replaces
  // the one carried so far. Fails with ErrorKind::Refused for a reply
  // without Location, a Location that is not http, or a redirect beyond
  // the kMaxRedirects-th, so that a redirect loop always ends.
  Status follow(const ReplyHeader &reply);

  const Url &current() const { return current_; }
  // Empty while no redirect set a cookie.
  const std::string &cookie() const { return cookie_; }
  int followed() const { return followed_; }

private:
  Url current_;
  std::string cookie_;
  int followed_ = 0;
};

} // namespace download
