#include "archive/extract.h"
#include <functional>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "archive/entry_names.h"
#include "archive_fixtures.h"

namespace archive {
namespace {

using testing::describeDifference;
using testing::FixtureEntry;
using testing::patchBytes;
using testing::readFile;
using testing::runPython;
using testing::runShell;
using testing::ScratchFolder;
using testing::Snapshot;
using testing::snapshot;
using testing::writeFile;
using testing::writeZip;

// Runs extract and keeps the events it raised.
struct Outcome {
  int status = 99;
  std::vector<int> events;
};

Outcome runExtract(const std::string &archive, const std::string &target,
                   int stopAtEvent = -1) {
  Outcome run;
  run.status = extract(archive, target, [&](int percent) {
    run.events.push_back(percent);
    return static_cast<int>(run.events.size()) != stopAtEvent;
  });
  return run;
}

void makeDirectory(const std::string &path, mode_t mode = 0755) {
  ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
}

// A target folder holding an older version of an application.
void fillOldApplication(const ScratchFolder &scratch) {
  makeDirectory(scratch / "app");
  makeDirectory(scratch / "app/bin");
  writeFile(scratch / "app/bin/tool", "old tool\n");
  writeFile(scratch / "app/readme.txt", "old readme\n");
  writeFile(scratch / "app/keep.cfg", "settings the update does not touch\n");
  chmod((scratch / "app/readme.txt").c_str(), 0444);
}

std::vector<FixtureEntry> newApplication() {
  return {
      {"bin/", "", false, 040755, 0x10},
      {"bin/tool", std::string(5000, 'T') + "new tool\n", true, 0100755},
      {"readme.txt", "new readme\n", false, 0100644},
      {"lib/", "", false, 040755, 0x10},
      {"lib/data.bin", std::string(70000, '\x07') + "end", true, 0100644},
  };
}

// The same tree zipped by the two archivers users are likely to have; bsdtar
// stores "./" and names beginning with "./".
TEST(Extract, InstallsANormalTreeMadeByZipAndBsdtar) {
  struct Case {
    std::string tool;
    std::string command;
  };
  const Case cases[] = {
      {"zip", "cd src && zip -q -r ../update.zip ."},
      {"bsdtar", "bsdtar -a -cf update.zip -C src ."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.tool);
    ScratchFolder scratch;
    makeDirectory(scratch / "src");
    makeDirectory(scratch / "src/docs");
    makeDirectory(scratch / "src/docs/deep");
    std::string big;
    for (int i = 0; i < 20000; ++i) {
      big += std::string("line ") + std::to_string(i) + "\n";
    }
    writeFile(scratch / "src/docs/deep/big.txt", big);
    writeFile(scratch / "src/top.txt", "top\n");
    writeFile(scratch / "src/empty.dat", "");
    writeFile(scratch / "src/run.sh", "#!/bin/sh\necho hi\n");
    chmod((scratch / "src/run.sh").c_str(), 0755);
    ASSERT_EQ(
        runShell(std::string("cd ") + scratch.path() + " && " + c.command), 0);

    const Outcome run = runExtract(scratch / "update.zip", scratch / "out/app");
    EXPECT_EQ(run.status, kExtractDone);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.front(), 0);
    EXPECT_EQ(run.events.back(), 100);
    const Snapshot source = snapshot(scratch / "src");
    const Snapshot installed = snapshot(scratch / "out/app");
    EXPECT_EQ(installed, source) << describeDifference(source, installed);
  }
}

TEST(Extract, ReplacesAnOlderVersionAndReportsEachEntry) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  writeZip(scratch / "update.zip", newApplication());

  const Outcome run = runExtract(scratch / "update.zip", scratch / "app");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(run.events, (std::vector<int>{0, 20, 40, 60, 80, 100}));
  EXPECT_EQ(readFile(scratch / "app/bin/tool"),
            std::string(5000, 'T') + "new tool\n");
  EXPECT_EQ(readFile(scratch / "app/readme.txt"), "new readme\n");
  EXPECT_EQ(readFile(scratch / "app/lib/data.bin"),
            std::string(70000, '\x07') + "end");
  EXPECT_EQ(readFile(scratch / "app/keep.cfg"),
            "settings the update does not touch\n");
  struct stat info {};
  ASSERT_EQ(stat((scratch / "app/readme.txt").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IWUSR, 0u)
      << "the replaced read-only file is writable now";
  ASSERT_EQ(stat((scratch / "app/bin/tool").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "an executable stays executable";
  EXPECT_EQ(
      access((scratch / (std::string("app/") + std::string(kStagingFolderName)))
                 .c_str(),
             F_OK),
      -1);
}

TEST(Extract, ReportsFourEntriesAsQuarters) {
  ScratchFolder scratch;
  writeZip(scratch / "four.zip",
           {{"a", "1"}, {"b", "2"}, {"c", "3", false}, {"d", "4"}});
  const Outcome run = runExtract(scratch / "four.zip", scratch / "out");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(run.events, (std::vector<int>{0, 25, 50, 75, 100}));
}

TEST(Extract, ManyEntriesArriveWholeAndInOrder) {
  ScratchFolder scratch;
  std::vector<FixtureEntry> entries;
  for (int i = 0; i < 300; ++i) {
    const std::string text(static_cast<std::size_t>(i * 97 % 5000),
                           static_cast<char>('a' + i % 26));
    std::string name = "f";
    name += std::to_string(i);
    name += ".txt";
    entries.push_back({name, text, i % 3 != 0});
  }
  writeZip(scratch / "many.zip", entries);
  const Outcome run = runExtract(scratch / "many.zip", scratch / "out");
  EXPECT_EQ(run.status, kExtractDone);
  ASSERT_EQ(run.events.size(), entries.size() + 1);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(run.events[i], progressPercent(i, entries.size())) << i;
  }
  for (const FixtureEntry &entry : entries) {
    EXPECT_EQ(readFile(scratch / (std::string("out/") + entry.name)),
              entry.data)
        << entry.name;
  }
}

TEST(Extract, KeepsUtf8Names) {
  ScratchFolder scratch;
  const std::string name = "\xE6\x9B\xB4\xE6\x96\xB0.txt";
  writeZip(scratch / "utf8.zip", {{name, "x", true, 0, 0, true}});
  const Outcome run = runExtract(scratch / "utf8.zip", scratch / "out");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(readFile(scratch / (std::string("out/") + name)), "x");
}

TEST(Extract, MissingArchive) {
  ScratchFolder scratch;
  const Outcome run = runExtract(scratch / "none.zip", scratch / "out");
  EXPECT_EQ(run.status, kExtractMissing);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_TRUE(snapshot(scratch.path()).empty()) << "the target is not created";
}

// Archives refused before anything is written: status 0, one event of 0,
// and nothing changed anywhere in the scratch folder.
TEST(Extract, RefusesTheWholeArchiveBeforeWriting) {
  struct Case {
    std::string label;
    std::vector<FixtureEntry> entries;
    std::string rawArchive; // used instead of entries when not empty
  };
  std::vector<FixtureEntry> withNul = {{"good.txt", "ok"}, {"aXb", "nul"}};
  const Case cases[] = {
      {"parent component", {{"good.txt", "ok"}, {"../evil.txt", "x"}}, ""},
      {"deep parent component",
       {{"a/", "", false, 0, 0x10}, {"a/../../evil.txt", "x"}},
       ""},
      {"absolute name", {{"good.txt", "ok"}, {"/tmp/evil.txt", "x"}}, ""},
      {"drive letter", {{"C:/evil.txt", "x"}}, ""},
      {"backslash traversal",
       {{"good.txt", "ok"}, {"..\\..\\evil.txt", "x"}},
       ""},
      {"leading backslash", {{"\\evil.txt", "x"}}, ""},
      {"symbolic link",
       {{"good.txt", "ok"}, {"link", "/etc/passwd", false, 0120777}},
       ""},
      {"duplicate file",
       {{"a.txt", "one"}, {"b.txt", "b"}, {"a.txt", "two"}},
       ""},
      {"file used as a directory", {{"a", "file"}, {"a/b", "x"}}, ""},
      {"staging folder name",
       {{std::string(kStagingFolderName) + "/x", "x"}},
       ""},
      {"invalid UTF-8 under the flag",
       {{"bad\xC0\xAF.txt", "x", true, 0, 0, true}},
       ""},
      {"file in a directory that does not exist",
       {{"good.txt", "ok"}, {"nodir/file.txt", "x"}},
       ""},
      {"file under an existing file", {{"keep.cfg/x", "x"}}, ""},
      {"empty archive", {}, std::string("PK\x05\x06") + std::string(18, '\0')},
      {"not a ZIP", {}, std::string(100, 'z')},
      {"too short", {}, std::string("PK\x03\x04") + std::string(20, '\0')},
      {"signature only, no central directory",
       {},
       std::string("PK\x03\x04") + std::string(200, '\0')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    const std::string archive = scratch / "update.zip";
    if (c.rawArchive.empty()) {
      writeZip(archive, c.entries);
    } else {
      writeFile(archive, c.rawArchive);
    }
    const Snapshot before = snapshot(scratch.path());
    const Outcome run = runExtract(archive, scratch / "app");
    EXPECT_EQ(run.status, kExtractFailed);
    EXPECT_EQ(run.events, std::vector<int>{0});
    const Snapshot after = snapshot(scratch.path());
    EXPECT_EQ(after, before) << describeDifference(before, after);
  }
}

TEST(Extract, RefusesANameWithANulByte) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  const std::string archive = scratch / "update.zip";
  writeZip(archive, {{"good.txt", "ok"}, {"evilQQname", "x"}});
  ASSERT_EQ(patchBytes(archive, "evilQQname", std::string("evil\0Qname", 10)),
            2);
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(archive, scratch / "app");
  EXPECT_EQ(run.status, kExtractFailed);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_EQ(snapshot(scratch.path()), before);
}

TEST(Extract, RefusesDeclaredSizesBeyondTheFreeSpace) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  struct statvfs volume {};
  ASSERT_EQ(statvfs(scratch.path().c_str(), &volume), 0);
  const unsigned long long freeBytes =
      static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
  // Each entry declares just under 4 GiB while holding a few bytes; enough
  // of them exceed the volume.
  const unsigned long long perEntry = 0xFFFFFF00ull;
  const std::size_t count = static_cast<std::size_t>(freeBytes / perEntry + 2);
  std::vector<FixtureEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = "bomb";
    name += std::to_string(i);
    entries.push_back({name, "tiny", false});
  }
  const std::string archive = scratch / "bomb.zip";
  writeZip(archive, entries);
  // Stored entries carry their size twice (compressed and not), in both
  // headers: "tiny" is 4 bytes.
  const std::string four("\x04\x00\x00\x00", 4);
  ASSERT_EQ(patchBytes(archive, four + four,
                       std::string("\x00\xFF\xFF\xFF\x00\xFF\xFF\xFF", 8)),
            static_cast<int>(count * 2));
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(archive, scratch / "app");
  EXPECT_EQ(run.status, kExtractFailed);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_EQ(snapshot(scratch.path()), before);
}

// Archives whose damage shows only while unpacking: status 0, the closing
// event of 100, and the target byte for byte as before.
TEST(Extract, DamagedDataLeavesTheTargetAsItWas) {
  const std::string storedText = "stored entry text that will be damaged";
  const std::string deflatedText = std::string(3000, 'D') + "deflated tail";
  struct Case {
    std::string label;
    std::function<void(const std::string &archive)> damage;
  };
  const Case cases[] = {
      {"flipped byte in a stored entry",
       [&](const std::string &archive) {
         ASSERT_EQ(patchBytes(archive, "will be damaged", "will be dameged"),
                   1);
       }},
      {"flipped byte in a deflated entry",
       [&](const std::string &archive) {
         std::string data = readFile(archive);
         const std::size_t name = data.find("deflated.bin");
         ASSERT_NE(name, std::string::npos);
         // The data begins right after the local header's name; flip a byte
         // inside the deflate stream.
         data[name + 12 + 6] = static_cast<char>(data[name + 12 + 6] ^ 0x10);
         writeFile(archive, data);
       }},
      {"entry that ends before its declared size",
       [&](const std::string &archive) {
         // Declares one byte more than the stream holds (3013 -> 3014).
         ASSERT_EQ(patchBytes(archive, std::string("\xC5\x0B\x00\x00", 4),
                              std::string("\xC6\x0B\x00\x00", 4)),
                   2);
       }},
      {"entry that gives more than it declares",
       [&](const std::string &archive) {
         ASSERT_EQ(patchBytes(archive, std::string("\xC5\x0B\x00\x00", 4),
                              std::string("\xC4\x0B\x00\x00", 4)),
                   2);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    const std::string archive = scratch / "update.zip";
    writeZip(archive, {{"readme.txt", "new readme\n"},
                       {"added.txt", "added"},
                       {"stored.bin", storedText, false},
                       {"deflated.bin", deflatedText, true},
                       {"bin/tool", "new tool"}});
    c.damage(archive);
    const Snapshot before = snapshot(scratch.path());
    const Outcome run = runExtract(archive, scratch / "app");
    EXPECT_EQ(run.status, kExtractFailed);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), 100);
    const Snapshot after = snapshot(scratch.path());
    EXPECT_EQ(after, before) << describeDifference(before, after);
  }
}

TEST(Extract, TruncatedArchiveIsRefused) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  const std::string archive = scratch / "update.zip";
  writeZip(archive, newApplication());
  const std::string whole = readFile(archive);
  writeFile(archive, whole.substr(0, whole.size() * 2 / 3));
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(archive, scratch / "app");
  EXPECT_EQ(run.status, kExtractFailed);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_EQ(snapshot(scratch.path()), before);
}

// A failure while moving entries into place (a directory where a file
// goes, a file where a directory goes) puts back every replaced file with
// its attributes and removes what was added.
TEST(Extract, FailureWhileInstallingTakesEverythingBack) {
  struct Case {
    std::string label;
    std::vector<FixtureEntry> entries;
  };
  const Case cases[] = {
      {"directory in the way of the last file",
       {{"readme.txt", "new"},
        {"new/", "", false, 0, 0x10},
        {"new/x", "x"},
        {"bin/tool", "new tool"},
        {"blocked", "cannot replace a directory"}}},
      {"file in the way of a directory entry",
       {{"readme.txt", "new"},
        {"bin/tool", "new tool"},
        {"keep.cfg/", "", false, 0, 0x10}}},
      {"name too long for the file system",
       {{"readme.txt", "new"},
        {"bin/tool", "new tool"},
        {std::string(300, 'n'), "x"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    makeDirectory(scratch / "app/blocked");
    writeFile(scratch / "app/blocked/inside", "x");
    const std::string archive = scratch / "update.zip";
    writeZip(archive, c.entries);
    const Snapshot before = snapshot(scratch.path());
    const Outcome run = runExtract(archive, scratch / "app");
    EXPECT_EQ(run.status, kExtractFailed);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), 100);
    const Snapshot after = snapshot(scratch.path());
    EXPECT_EQ(after, before) << describeDifference(before, after);
  }
}

TEST(Extract, AFolderThatCannotBeWrittenLeavesTheTargetAsItWas) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "permissions do not hold for root";
  }
  ScratchFolder scratch;
  fillOldApplication(scratch);
  chmod((scratch / "app/bin").c_str(), 0555);
  const std::string archive = scratch / "update.zip";
  writeZip(archive, {{"readme.txt", "new readme"},
                     {"added.txt", "added"},
                     {"bin/tool", "cannot be moved into a read-only folder"}});
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(archive, scratch / "app");
  EXPECT_EQ(run.status, kExtractFailed);
  EXPECT_EQ(run.events, (std::vector<int>{0, 33, 66, 100}));
  const Snapshot after = snapshot(scratch.path());
  EXPECT_EQ(after, before) << describeDifference(before, after);
}

TEST(Extract, HandlerReturningFalseStopsAndInstallsNothing) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  const std::string archive = scratch / "update.zip";
  writeZip(archive,
           {{"readme.txt", "new"}, {"a", "1"}, {"b", "2"}, {"c", "3"}});
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(archive, scratch / "app", 2);
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(run.events, (std::vector<int>{0, 25}));
  const Snapshot after = snapshot(scratch.path());
  EXPECT_EQ(after, before) << describeDifference(before, after);
}

TEST(Extract, ParentDirectoriesUnderAnAbsoluteTarget) {
  struct Case {
    std::string label;
    std::vector<FixtureEntry> entries;
  };
  const Case cases[] = {
      {"from an earlier directory entry",
       {{"new/", "", false, 0, 0x10},
        {"new/deeper/", "", false, 0, 0x10},
        {"new/deeper/file.txt", "x"}}},
      {"from an earlier Unix directory entry",
       {{"u", "", false, 040755}, {"u/file.txt", "x"}}},
      {"already on disk", {{"bin/file.txt", "x"}}},
      {"parent of a directory entry made with it",
       {{"p/q/r/", "", false, 0, 0x10}, {"p/q/file.txt", "x"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    const std::string archive = scratch / "update.zip";
    writeZip(archive, c.entries);
    const Outcome run = runExtract(archive, scratch / "app");
    EXPECT_EQ(run.status, kExtractDone);
    const FixtureEntry &last = c.entries.back();
    EXPECT_EQ(readFile(scratch / (std::string("app/") + last.name)), last.data);
  }
}

TEST(Extract, RelativeTargetGetsMissingParents) {
  ScratchFolder scratch;
  writeZip(scratch / "update.zip", {{"a/b/c.txt", "deep"}});
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(scratch.path().c_str()), 0);
  const Outcome run = runExtract("update.zip", "rel/target");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(readFile(scratch / "rel/target/a/b/c.txt"), "deep");
}

TEST(Extract, TargetThatCannotBeCreated) {
  ScratchFolder scratch;
  writeZip(scratch / "update.zip", {{"a.txt", "x"}});
  writeFile(scratch / "plain", "a file, not a folder");
  const Snapshot before = snapshot(scratch.path());
  const Outcome run = runExtract(scratch / "update.zip", scratch / "plain/app");
  EXPECT_EQ(run.status, kExtractFailed);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_EQ(snapshot(scratch.path()), before);
}

TEST(Extract, StaleStagingFolderFromACrashedRunIsCleared) {
  ScratchFolder scratch;
  fillOldApplication(scratch);
  const std::string stale =
      scratch / (std::string("app/") + std::string(kStagingFolderName));
  makeDirectory(stale);
  makeDirectory(stale + "/sub");
  writeFile(stale + "/0", "half-written");
  writeFile(stale + "/old-0", "kept aside");
  chmod((stale + "/old-0").c_str(), 0444);
  writeZip(scratch / "update.zip", {{"readme.txt", "new"}});
  const Outcome run = runExtract(scratch / "update.zip", scratch / "app");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(readFile(scratch / "app/readme.txt"), "new");
  EXPECT_EQ(access(stale.c_str(), F_OK), -1);
}

// A damaged local header ends the archive there: the entries before it are
// the whole archive.
TEST(Extract, DamagedLocalHeaderEndsTheArchive) {
  ScratchFolder scratch;
  const std::string archive = scratch / "update.zip";
  writeZip(
      archive,
      {{"first.txt", "one"}, {"second.txt", "two"}, {"third.txt", "three"}});
  std::string data = readFile(archive);
  const std::vector<std::size_t> headers = testing::findAll(data, "PK\x03\x04");
  ASSERT_EQ(headers.size(), 3u);
  data[headers[1] + 3] = '\x05';
  writeFile(archive, data);
  const Outcome run = runExtract(archive, scratch / "out");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(run.events, (std::vector<int>{0, 100}));
  const Snapshot installed = snapshot(scratch / "out");
  ASSERT_EQ(installed.size(), 1u);
  EXPECT_EQ(installed.begin()->first, "first.txt");
}

TEST(Extract, DamagedFirstCentralRecordMeansNoEntries) {
  ScratchFolder scratch;
  const std::string archive = scratch / "update.zip";
  writeZip(archive, {{"only.txt", "x"}});
  ASSERT_EQ(patchBytes(archive, "PK\x01\x02", "PK\x01\x09"), 1);
  const Outcome run = runExtract(archive, scratch / "out");
  EXPECT_EQ(run.status, kExtractDone);
  EXPECT_EQ(run.events, std::vector<int>{0});
  EXPECT_TRUE(snapshot(scratch / "out").empty());
}

const char *const kZip64Writer = R"(
import sys, zipfile
if sys.argv[2] == 'central':
    # Every size and offset above 4 bytes goes into the zip64 field of both
    # headers, as for an archive beyond 4 GiB.
    zipfile.ZIP64_LIMIT = 4
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for i, method in enumerate([zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED] * 2):
        info = zipfile.ZipInfo('z%d.txt' % i)
        info.compress_type = method
        with z.open(info, 'w', force_zip64=True) as f:
            f.write(('zip64 entry %d\n' % i).encode() * (i * 40 + 1))
)";

// Debian's minizip 1.1 cannot read sizes and offsets kept only in the zip64
// field; such an archive must then be refused whole, never installed with
// wrong sizes or cut short. A reader that handles them installs it.
TEST(Extract, Zip64Archives) {
  for (const std::string kind : {"local", "central"}) {
    SCOPED_TRACE(kind);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    const std::string archive = scratch / "update.zip";
    runPython(kZip64Writer, {archive, kind});
    const Snapshot before = snapshot(scratch.path());
    const Outcome run = runExtract(archive, scratch / "app");
    if (kind == "local" || run.status == kExtractDone) {
      EXPECT_EQ(run.status, kExtractDone);
      EXPECT_EQ(run.events, (std::vector<int>{0, 25, 50, 75, 100}));
      for (int i = 0; i < 4; ++i) {
        std::string expected;
        for (int k = 0; k < i * 40 + 1; ++k) {
          expected += std::string("zip64 entry ") + std::to_string(i) + "\n";
        }
        EXPECT_EQ(readFile(scratch /
                           (std::string("app/z") + std::to_string(i) + ".txt")),
                  expected);
      }
    } else {
      EXPECT_EQ(run.status, kExtractFailed);
      EXPECT_EQ(run.events, std::vector<int>{0});
      EXPECT_EQ(snapshot(scratch.path()), before);
    }
  }
}

TEST(Extract, EncryptedAndUnsupportedEntriesAreRefused) {
  struct Case {
    std::string label;
    std::string from;
    std::string to;
  };
  // The writer's general-purpose flags and method, right after the version
  // needed (20) in both headers of a stored entry.
  const Case cases[] = {
      {"encrypted", std::string("\x14\x00\x00\x00\x00\x00", 6),
       std::string("\x14\x00\x01\x00\x00\x00", 6)},
      {"method 14 (LZMA)", std::string("\x14\x00\x00\x00\x00\x00", 6),
       std::string("\x14\x00\x00\x00\x0E\x00", 6)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder scratch;
    fillOldApplication(scratch);
    const std::string archive = scratch / "update.zip";
    writeZip(archive, {{"readme.txt", "new", false}});
    ASSERT_GE(patchBytes(archive, c.from, c.to), 2);
    const Snapshot before = snapshot(scratch.path());
    const Outcome run = runExtract(archive, scratch / "app");
    EXPECT_EQ(run.status, kExtractFailed);
    EXPECT_EQ(run.events, std::vector<int>{0});
    EXPECT_EQ(snapshot(scratch.path()), before);
  }
}

TEST(Extract, HandlerMayBeEmpty) {
  ScratchFolder scratch;
  writeZip(scratch / "update.zip", {{"a.txt", "x"}});
  EXPECT_EQ(extract(scratch / "update.zip", scratch / "out", ProgressHandler()),
            kExtractDone);
  EXPECT_EQ(readFile(scratch / "out/a.txt"), "x");
}

} // namespace
} // namespace archive
