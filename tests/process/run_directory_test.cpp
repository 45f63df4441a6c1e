#include "process/run_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using process::CodePage;

TEST(RunDirectory, CutsAtTheLastSeparator) {
  struct Case {
    const char *path;
    CodePage codePage;
    const char *expected;
  };
  const Case cases[] = {
      {"C:\\app\\updater.exe", CodePage::DoubleByte, "C:\\app"},
      {"C:\\updater.exe", CodePage::DoubleByte, "C:"},
      {"\\\\server\\share\\updater.exe", CodePage::DoubleByte, "\\\\server\\share"},
      {"\\\\server\\share\\dir\\updater.exe", CodePage::DoubleByte,
       "\\\\server\\share\\dir"},
      // 0x95 0x5C is one double-byte character: its 0x5C is no separator.
      {"C:\\\x95\x5C\\updater.exe", CodePage::DoubleByte, "C:\\\x95\x5C"},
      {"C:\\dir\\\x95\x5Cupdater.exe", CodePage::DoubleByte, "C:\\dir"},
      {"C:\\dir\\\x95\x5Cupdater.exe", CodePage::SingleByte, "C:\\dir\\\x95"},
      {"updater.exe", CodePage::DoubleByte, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(process::cutAtLastSeparator(c.path, '\\', c.codePage), c.expected);
  }
  EXPECT_EQ(process::cutAtLastSeparator("/opt/app/updater", '/', CodePage::SingleByte),
            "/opt/app");
  EXPECT_EQ(process::cutAtLastSeparator("/updater", '/', CodePage::SingleByte), "");
  EXPECT_EQ(process::cutAtLastSeparator(u"C:\\\u7A0B\\updater.exe", u'\\'), u"C:\\\u7A0B");
  EXPECT_EQ(process::cutAtLastSeparator(u"C:\\updater.exe", u'\\'), u"C:");
}

TEST(RunDirectory, IsTheFolderOfThisProgram) {
  const std::filesystem::path exe = process::executablePath();
  ASSERT_TRUE(exe.is_absolute());
  EXPECT_EQ(process::runDirectory(), exe.parent_path().string());
  EXPECT_TRUE(std::filesystem::is_directory(process::runDirectory()));
}

} // namespace
