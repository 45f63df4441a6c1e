#include "download/redirect.h"

namespace download {

Status RedirectTrail::follow(const ReplyHeader &reply) {
  if (followed_ >= kMaxRedirects)
    return Error{ErrorKind::Refused, 0,
                 "more than " + std::to_string(kMaxRedirects) + " redirects"};
  if (!reply.location)
    return Error{ErrorKind::Refused, 0, "a redirect without Location"};
  auto next = resolveLocation(current_, *reply.location);
  if (!next)
    return next.error();
  current_ = std::move(*next);
  if (reply.cookie)
    cookie_ = *reply.cookie;
  ++followed_;
  return success();
}

} // namespace download
