#include "process/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct Case {
  const char *name;
  std::string line;
  Args expected;
};

TEST(CommandLine, SplitsBytes) {
  const Case cases[] = {
      {"no arguments", "updater.exe", {}},
      {"no arguments after blank", "updater.exe ", {}},
      {"plain switch", "updater.exe -g", {"-g"}},
      {"quoted program then switch without blank",
       "\"C:\\Program Files\\app\\updater.exe\"-g", {"-g"}},
      {"quoted program, blank, switch", "\"C:\\a b\\updater.exe\" -g", {"-g"}},
      {"empty argument before switch", "updater.exe \"\" -g", {"", "-g"}},
      {"quoted switch", "updater.exe \"-g\"", {"-g"}},
      {"further arguments kept", "updater.exe -g x y", {"-g", "x", "y"}},
      {"upper case", "updater.exe -G", {"-G"}},
      {"extra character", "updater.exe -gx", {"-gx"}},
      {"slash", "updater.exe /g", {"/g"}},
      {"tab after program is part of its name", "updater.exe\t-g -h", {"-h"}},
      {"control bytes between arguments", "updater.exe -g\x01x\x1f\x20y", {"-g", "x", "y"}},
      {"quote ends plain argument", "updater.exe ab\"cd ef\"gh", {"ab", "cd ef", "gh"}},
      {"unclosed quote runs to the end", "updater.exe \"a b", {"a b"}},
      {"two quotes give empty argument", "updater.exe \"\"", {""}},
      {"backslash is ordinary", "updater.exe a\\\"b\"", {"a\\", "b"}},
      {"unclosed quoted program name", "\"updater.exe -g", {}},
      {"NUL ends the line", std::string("updater.exe -g\0x", 16), {"-g"}},
      // 0xB5 0x22 is one double-byte character whose second byte is a quote.
      {"double-byte trail quote", "updater.exe a\xB5\x22" "b c", {"a\xB5\x22" "b", "c"}},
      {"double-byte trail quote in quotes", "updater.exe \"\xB5\x22\" x", {"\xB5\x22", "x"}},
      {"double-byte trail blank", "updater.exe \xB5\x20x y", {"\xB5\x20x", "y"}},
      {"double-byte in program name", "\"\xB5\x22.exe\" -g", {"-g"}},
      {"lead byte at the very end", "updater.exe a\xB5", {"a\xB5"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(process::splitCommandLine(std::string_view(c.line)), c.expected);
  }
}

TEST(CommandLine, SplitsUtf16WithoutTheDoubleByteRule) {
  // In UTF-16 a unit of 0x80 or above is a whole character: the quote after
  // it is a real quote.
  const std::u16string line = u"\"C:\\程序\\updater.exe\"-g \u00B5\"a b\" c";
  const std::vector<std::u16string> expected = {u"-g", u"\u00B5", u"a b", u"c"};
  EXPECT_EQ(process::splitCommandLine(std::u16string_view(line)), expected);
}

} // namespace
