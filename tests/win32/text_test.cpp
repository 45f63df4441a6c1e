#include "platform/win32/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::win32::codePageToUtf8;
using platform::win32::toUtf8;
using platform::win32::toWide;

TEST(Win32Text, Utf8AndUtf16RoundTrip) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"-g", L"-g"},
      {"软件更新", L"\u8F6F\u4EF6\u66F4\u65B0"},
      {"正在下载更新文件：42%", L"\u6B63\u5728\u4E0B\u8F7D\u66F4\u65B0\u6587\u4EF6\uFF1A42%"},
      // A character outside the basic plane: a surrogate pair in UTF-16.
      {"\xF0\x9F\x8C\x8D", L"\xD83C\xDF0D"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(toWide(c.utf8), c.wide);
    EXPECT_EQ(toUtf8(c.wide), c.utf8);
    EXPECT_EQ(toUtf8(std::u16string_view(
                  reinterpret_cast<const char16_t *>(c.wide.data()), c.wide.size())),
              c.utf8);
  }
}

TEST(Win32Text, IllFormedInputBecomesReplacementCharacters) {
  // A lone continuation byte and a truncated sequence.
  EXPECT_EQ(toWide("a\x80z"), L"a\uFFFDz");
  EXPECT_EQ(toWide("a\xE8\xBD"), std::wstring(L"a\uFFFD"));
  // An unpaired surrogate, as a file name on NTFS may hold.
  EXPECT_EQ(toUtf8(std::wstring(L"a\xD800z")), "a\xEF\xBF\xBDz");
}

TEST(Win32Text, CodePagesDecodeToUtf8) {
  struct Case {
    std::string bytes;
    unsigned codePage;
    std::string utf8;
  };
  const Case cases[] = {
      {"\xC8\xED\xBC\xFE\xB8\xFC\xD0\xC2", 936, "软件更新"},
      {"update.exe", 936, "update.exe"},
      {"caf\xE9", 1252, "café"},
      {"", 936, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(codePageToUtf8(c.bytes, c.codePage), c.utf8);
  }
}

} // namespace
