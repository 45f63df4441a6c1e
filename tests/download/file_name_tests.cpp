// Save-path settling, %-decoding and the same-name alternatives, for both
// path styles.
#include "download/file_name.h"

#include <gtest/gtest.h>

namespace download {
namespace {

TEST(PercentDecode, EscapesAndPlus) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"plain.zip", "plain.zip"},  {"a%20b.zip", "a b.zip"},   {"a+b.zip", "a b.zip"},
      {"%2B.zip", "+.zip"},        {"%e4%b8%ad", "\xe4\xb8\xad"}, {"100%", "100%"},
      {"%4", "%4"},                {"%zz", "%zz"},             {"%%41", "%A"},
      {"%41%", "A%"},              {"", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(percentDecode(c.in), c.out);
  }
}

TEST(SettleSavePath, FilePathsStayAndDirectoriesGetAName) {
  struct Case {
    const char *name;
    const char *savePath;
    std::optional<std::string> disposition;
    const char *urlPath;
    PathStyle style;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"file path", "/tmp/x/temp.temp", std::nullopt, "/f.zip", PathStyle::Posix, "/tmp/x/temp.temp"},
      {"windows file path", "C:\\app\\temp.temp", "d.zip", "/f.zip", PathStyle::Windows,
       "C:\\app\\temp.temp"},
      {"directory, name from the address", "/tmp/x/", std::nullopt, "/files/my%20f+1.zip?x=1",
       PathStyle::Posix, "/tmp/x/my f 1.zip"},
      {"directory, name from the reply", "/tmp/x/", "r.zip", "/files/f.zip", PathStyle::Posix,
       "/tmp/x/r.zip"},
      {"windows directory", "C:\\app\\", std::nullopt, "/a/f.zip", PathStyle::Windows,
       "C:\\app\\f.zip"},
      {"a backslash is no separator on posix", "/tmp/a\\", std::nullopt, "/f.zip",
       PathStyle::Posix, "/tmp/a\\"},
      {"the reply's name cannot climb out", "/tmp/x/", "../../etc/passwd", "/f.zip",
       PathStyle::Posix, "/tmp/x/passwd"},
      {"nor with backslashes", "C:\\app\\", "..\\..\\win.ini", "/f.zip", PathStyle::Windows,
       "C:\\app\\win.ini"},
      {"an unusable reply name falls back to the address", "/tmp/x/", "..", "/f.zip",
       PathStyle::Posix, "/tmp/x/f.zip"},
      {"an escaped slash in the address is still one name", "/tmp/x/", std::nullopt,
       "/a/..%2F..%2Fevil", PathStyle::Posix, "/tmp/x/evil"},
      {"no name at all", "/tmp/x/", std::nullopt, "/dir/", PathStyle::Posix, std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(settleSavePath(c.savePath, c.disposition, c.urlPath, c.style), c.expected);
  }
}

TEST(SameNameCandidate, GoesBeforeTheFirstDotOfTheFileName) {
  struct Case {
    const char *path;
    int n;
    PathStyle style;
    const char *expected;
  };
  const Case cases[] = {
      {"/run/temp.temp", 1, PathStyle::Posix, "/run/temp(1).temp"},
      {"/run/temp.temp", 99, PathStyle::Posix, "/run/temp(99).temp"},
      {"/run/a.tar.gz", 2, PathStyle::Posix, "/run/a(2).tar.gz"},
      {"/run/noext", 3, PathStyle::Posix, "/run/noext(3)"},
      {"/my.dir/noext", 1, PathStyle::Posix, "/my.dir/noext(1)"},
      {"C:\\my.dir\\temp.temp", 1, PathStyle::Windows, "C:\\my.dir\\temp(1).temp"},
      {"C:\\my.dir\\noext", 1, PathStyle::Windows, "C:\\my.dir\\noext(1)"},
      {"rel.zip", 4, PathStyle::Posix, "rel(4).zip"},
      {"/run/.hidden", 1, PathStyle::Posix, "/run/(1).hidden"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(sameNameCandidate(c.path, c.n, c.style), c.expected);
  }
}

} // namespace
} // namespace download
