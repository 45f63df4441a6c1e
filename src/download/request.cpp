#include "download/request.h"

namespace download {

namespace {

void addLine(std::string &out, std::string_view name, std::string_view value) {
  out += name;
  out += ": ";
  out += value;
  out += "\r\n";
}

} // namespace

std::string buildRequest(const RequestInput &input) {
  std::string out;
  out.reserve(256 + input.target.size() + input.referer.size() + input.cookie.size());
  out += "GET ";
  out += input.target;
  out += " HTTP/1.1\r\n";
  addLine(out, "Host", input.host);
  if (!input.viaProxy) {
    addLine(out, "Accept", "*/*");
    addLine(out, "Referer", input.referer);
  }
  addLine(out, "User-Agent", kUserAgent);
  // A proxy passes the range and the cookie on to the server, so they are
  // sent in both variants.
  if (input.rangeFrom)
    addLine(out, "Range", "bytes=" + std::to_string(*input.rangeFrom) + "-");
  if (!input.cookie.empty())
    addLine(out, "Cookie", input.cookie);
  if (input.viaProxy) {
    addLine(out, "Proxy-Connection", "Keep-Alive");
  } else {
    addLine(out, "Pragma", "no-cache");
    addLine(out, "Cache-Control", "no-cache");
    addLine(out, "Connection", "close");
  }
  out += "\r\n";
  return out;
}

} // namespace download
