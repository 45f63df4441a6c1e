#include "archive/entry_names.h"

#include <gtest/gtest.h>

namespace archive {
namespace {

using P = NameProblem;

TEST(EntryNames, CheckEntryNameUnderBothStyles) {
  struct Case {
    std::string name;
    NameProblem posix;
    NameProblem windows;
  };
  const Case cases[] = {
      {"a.txt", P::None, P::None},
      {"dir/sub/file.bin", P::None, P::None},
      {"dir/", P::None, P::None},
      {"./a.txt", P::None, P::None},
      {"a//b", P::None, P::None},
      {"\xE6\x9B\xB4\xE6\x96\xB0.txt", P::None, P::None},
      {"", P::Empty, P::Empty},
      {"./", P::None, P::None},
      {".", P::Empty, P::Empty},
      {"./.", P::Empty, P::Empty},
      {"/etc/passwd", P::Absolute, P::Absolute},
      {"\\windows\\x", P::Absolute, P::Absolute},
      {"\\\\server\\share\\x", P::Absolute, P::Absolute},
      {"C:/x", P::DriveLetter, P::DriveLetter},
      {"c:x", P::DriveLetter, P::DriveLetter},
      {"..", P::ParentComponent, P::ParentComponent},
      {"../evil", P::ParentComponent, P::ParentComponent},
      {"a/../../evil", P::ParentComponent, P::ParentComponent},
      {"a\\..\\..\\evil", P::ParentComponent, P::ParentComponent},
      {"a/..", P::ParentComponent, P::ParentComponent},
      {"..a/b..", P::None, P::TrailingDotOrSpace},
      {"..a/b", P::None, P::None},
      {std::string("a\0b", 3), P::NulByte, P::NulByte},
      {".update-staging/x", P::StagingFolder, P::StagingFolder},
      {".Update-Staging", P::StagingFolder, P::StagingFolder},
      {".update-in-use/old-0", P::StagingFolder, P::StagingFolder},
      {"sub/.update-staging", P::None, P::None},
      {"file.txt:stream", P::None, P::Colon},
      {"CON", P::None, P::ReservedDeviceName},
      {"dir/con.txt", P::None, P::ReservedDeviceName},
      {"Aux .log", P::None, P::ReservedDeviceName},
      {"com1", P::None, P::ReservedDeviceName},
      {"LPT9.dat", P::None, P::ReservedDeviceName},
      {"COM\xC2\xB9", P::None, P::ReservedDeviceName},
      {"COM10", P::None, P::None},
      {"console.txt", P::None, P::None},
      {"nul/x", P::None, P::ReservedDeviceName},
      {"a./b", P::None, P::TrailingDotOrSpace},
      {"name ", P::None, P::TrailingDotOrSpace},
      {"what?.txt", P::None, P::InvalidCharacter},
      {"a<b", P::None, P::InvalidCharacter},
      {"tab\there", P::None, P::InvalidCharacter},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("name: \"" + c.name + "\"");
    EXPECT_EQ(checkEntryName(c.name, NameStyle::Posix), c.posix);
    EXPECT_EQ(checkEntryName(c.name, NameStyle::Windows), c.windows);
  }
}

TEST(EntryNames, SplitTakesBothSeparatorsAndDropsEmptyAndDotComponents) {
  struct Case {
    std::string name;
    std::vector<std::string_view> components;
  };
  const Case cases[] = {
      {"a", {"a"}},
      {"a/b/c.txt", {"a", "b", "c.txt"}},
      {"a\\b/c", {"a", "b", "c"}},
      {"dir/", {"dir"}},
      {"./a//b/./c", {"a", "b", "c"}},
      {"", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(splitEntryName(c.name), c.components);
  }
}

TEST(EntryNames, IsValidUtf8) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"plain", true},
      {"\xE6\x9B\xB4\xE6\x96\xB0", true}, // two CJK characters
      {"\xF0\x9F\x98\x80", true},         // beyond the BMP
      {"\xC0\xAF", false},                // overlong "/"
      {"\xE0\x80\xAF", false},            // overlong "/" in three bytes
      {"\xED\xA0\x80", false},            // a surrogate
      {"\xF4\x90\x80\x80", false},        // beyond U+10FFFF
      {"\xE6\x9B", false},                // cut short
      {"\xB8\xFC\xD0\xC2", false},        // GBK bytes
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(isValidUtf8(c.text), c.valid);
  }
}

TEST(EntryNames, IsAbsolutePath) {
  struct Case {
    std::string path;
    bool posix;
    bool windows;
  };
  const Case cases[] = {
      {"/opt/app", true, false},
      {"C:\\app", false, true},
      {"c:/app", false, true},
      {"C:app", false, false},
      {"\\\\server\\share", false, true},
      {"app", false, false},
      {"", false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(isAbsolutePath(c.path, NameStyle::Posix), c.posix);
    EXPECT_EQ(isAbsolutePath(c.path, NameStyle::Windows), c.windows);
  }
}

TEST(EntryNames, JoinTargetPathAddsOneSeparator) {
  struct Case {
    std::string directory;
    std::vector<std::string_view> components;
    std::string posix;
    std::string windows;
  };
  const Case cases[] = {
      {"/app", {"a", "b.txt"}, "/app/a/b.txt", "/app\\a\\b.txt"},
      {"/app/", {"a"}, "/app/a", "/app/a"},
      {"C:\\app\\", {"x"}, "C:\\app\\/x", "C:\\app\\x"},
      {"C:\\app", {"d", "x"}, "C:\\app/d/x", "C:\\app\\d\\x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.directory);
    EXPECT_EQ(joinTargetPath(c.directory, c.components, NameStyle::Posix),
              c.posix);
    EXPECT_EQ(joinTargetPath(c.directory, c.components, NameStyle::Windows),
              c.windows);
  }
}

TEST(EntryNames, DirectoryChainLeavesOutWhatCannotBeCreated) {
  struct Case {
    std::string path;
    NameStyle style;
    std::vector<std::string> chain;
  };
  const Case cases[] = {
      {"/a/b", NameStyle::Posix, {"/a", "/a/b"}},
      {"/a//b/", NameStyle::Posix, {"/a", "/a//b"}},
      {"rel/x", NameStyle::Posix, {"rel", "rel/x"}},
      {"/", NameStyle::Posix, {}},
      {"C:\\a\\b", NameStyle::Windows, {"C:\\a", "C:\\a\\b"}},
      {"C:\\", NameStyle::Windows, {}},
      {"\\\\srv\\share\\app", NameStyle::Windows, {"\\\\srv\\share\\app"}},
      {"\\\\srv\\share", NameStyle::Windows, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(directoryChain(c.path, c.style), c.chain);
  }
}

TEST(EntryNames, NameSetFindsClashes) {
  struct Add {
    std::string name;
    bool directory;
  };
  struct Case {
    std::string label;
    std::vector<Add> adds;
    bool posixClean;
    bool windowsClean;
  };
  const Case cases[] = {
      {"distinct files", {{"a", false}, {"b", false}}, true, true},
      {"same file twice", {{"a/x", false}, {"a/x", false}}, false, false},
      {"same file through another separator",
       {{"a/x", false}, {"a\\x", false}},
       false,
       false},
      {"names differing in case",
       {{"Read.me", false}, {"read.ME", false}},
       true,
       false},
      {"directory entry twice", {{"d/", true}, {"d/", true}}, true, true},
      {"directory after its files", {{"d/x", false}, {"d/", true}}, true, true},
      {"file then directory of the same name",
       {{"d", false}, {"d/", true}},
       false,
       false},
      {"file used as a parent", {{"d", false}, {"d/x", false}}, false, false},
      {"parent then file of the same name",
       {{"d/x", false}, {"d", false}},
       false,
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    for (NameStyle style : {NameStyle::Posix, NameStyle::Windows}) {
      NameSet names(style);
      bool clean = true;
      for (const Add &add : c.adds) {
        clean = names.add(splitEntryName(add.name), add.directory) && clean;
      }
      EXPECT_EQ(clean,
                style == NameStyle::Posix ? c.posixClean : c.windowsClean)
          << (style == NameStyle::Posix ? "posix" : "windows");
    }
  }
}

TEST(EntryNames, NameSetKnowsDirectoriesFromEntriesAndParents) {
  NameSet names(NameStyle::Windows);
  ASSERT_TRUE(names.add(splitEntryName("bin/"), true));
  ASSERT_TRUE(names.add(splitEntryName("lib/x/y.dll"), false));
  EXPECT_TRUE(names.hasDirectory({"bin"}));
  EXPECT_TRUE(names.hasDirectory({"LIB", "X"}));
  EXPECT_FALSE(names.hasDirectory({"lib", "x", "y.dll"}));
  EXPECT_FALSE(names.hasDirectory({"share"}));
}

TEST(EntryNames, EntryKindsFromAttributes) {
  struct Case {
    std::string label;
    std::uint16_t versionMadeBy;
    std::uint32_t attributes;
    std::string name;
    bool directory;
    bool link;
    bool executable;
  };
  const Case cases[] = {
      {"DOS file", 20, 0x20, "a.txt", false, false, false},
      {"DOS directory bit", 20, 0x10, "d", true, false, false},
      {"Unix directory bit", 0x314, 0x41ED0000u, "d", true, false, true},
      {"name ending in slash", 20, 0, "d/", true, false, false},
      {"name ending in backslash", 20, 0, "d\\", true, false, false},
      {"Unix symbolic link", 0x314, 0xA1FF0000u, "l", false, true, true},
      {"Unix executable", 0x314, 0x81ED0000u, "run.sh", false, false, true},
      {"Unix plain file", 0x314, 0x81A40000u, "a.txt", false, false, false},
      {"mode bits from a DOS host", 20, 0x81ED0000u, "a.exe", false, false,
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(isDirectoryEntry(c.attributes, c.name), c.directory);
    EXPECT_EQ(isSymbolicLinkEntry(c.attributes), c.link);
    EXPECT_EQ(isExecutableEntry(c.versionMadeBy, c.attributes), c.executable);
  }
}

TEST(EntryNames, ProgressPercentTruncatesTheDoubleQuotient) {
  struct Case {
    std::size_t index;
    std::size_t count;
    int percent;
  };
  const Case cases[] = {
      {0, 4, 0},
      {1, 4, 25},
      {3, 4, 75},
      {1, 3, 33},
      {2, 3, 66},
      {0, 1, 0},
      {0, 0, 0},
      {99, 100, 99},
      // 29 / 100 is just below 0.29 in double precision.
      {29, 100, 28},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + " of " + std::to_string(c.count));
    EXPECT_EQ(progressPercent(c.index, c.count), c.percent);
  }
}

} // namespace
} // namespace archive
