#include "download/file_name.h"

namespace download {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::size_t fileNameStart(std::string_view path, PathStyle style) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (isSeparator(path[i - 1], style))
      return i;
  return 0;
}

} // namespace

bool isSeparator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::Windows && c == '\\');
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string lastPathComponent(std::string_view path) {
  path = path.substr(0, path.find_first_of("?#"));
  const auto slash = path.rfind('/');
  return percentDecode(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> safeFileName(std::string_view name) {
  const auto cut = name.find_last_of("/\\");
  if (cut != std::string_view::npos)
    name = name.substr(cut + 1);
  std::string out;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
      out += c;
  if (out.empty() || out == "." || out == "..")
    return std::nullopt;
  return out;
}

std::optional<std::string> settleSavePath(std::string_view savePath,
                                          const std::optional<std::string> &dispositionName,
                                          std::string_view urlPath, PathStyle style) {
  if (savePath.empty() || !isSeparator(savePath.back(), style))
    return std::string(savePath);
  std::optional<std::string> name;
  if (dispositionName)
    name = safeFileName(*dispositionName);
  if (!name)
    name = safeFileName(lastPathComponent(urlPath));
  if (!name)
    return std::nullopt;
  return std::string(savePath) + *name;
}

std::string sameNameCandidate(std::string_view path, int n, PathStyle style) {
  const std::size_t nameStart = fileNameStart(path, style);
  auto dot = path.find('.', nameStart);
  if (dot == std::string_view::npos)
    dot = path.size();
  return std::string(path.substr(0, dot)) + "(" + std::to_string(n) + ")" +
         std::string(path.substr(dot));
}

} // namespace download
