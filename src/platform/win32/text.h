// Conversions between the program's UTF-8 texts and the UTF-16 texts of the
// Windows API. Every place where a text crosses into or out of the system
// goes through these, so that titles, arguments and paths keep every
// character whatever the system's language.
#pragma once

#include "platform/win32/win32.h"

#include <string>
#include <string_view>

namespace platform::win32 {

// UTF-8 to UTF-16. An ill-formed sequence becomes U+FFFD; an embedded zero
// is kept.
inline std::wstring toWide(std::string_view utf8) {
  if (utf8.empty())
    return {};
  const int size = static_cast<int>(utf8.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD; an embedded zero is
// kept.
inline std::string toUtf8(std::wstring_view wide) {
  if (wide.empty())
    return {};
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size,
                                           nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length,
                        nullptr, nullptr);
  return utf8;
}

// The same for char16_t texts (such as the command-line splitter's), which
// on Windows hold the same units as wchar_t.
inline std::string toUtf8(std::u16string_view units) {
  return toUtf8(std::wstring_view(
      reinterpret_cast<const wchar_t *>(units.data()), units.size()));
}

// Bytes in a code page (CP_ACP for the system's ANSI code page, 936 for
// GBK) to UTF-8.
inline std::string codePageToUtf8(std::string_view bytes, unsigned codePage) {
  if (bytes.empty())
    return {};
  const int size = static_cast<int>(bytes.size());
  const int length =
      ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
  return toUtf8(wide);
}

} // namespace platform::win32
