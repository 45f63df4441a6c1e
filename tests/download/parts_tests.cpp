// Part splitting, the takeover choice and the whole-file pass.
#include "download/parts.h"

#include <gtest/gtest.h>

namespace download {
namespace {

TEST(SplitParts, CountsLengthsAndTheRemainder) {
  struct Case {
    std::int64_t length;
    int count;
    std::vector<std::pair<std::int64_t, std::int64_t>> expected;
  };
  const Case cases[] = {
      {100000, 5, {{0, 20000}, {20000, 40000}, {40000, 60000}, {60000, 80000}, {80000, 100000}}},
      {100003, 5, {{0, 20000}, {20000, 40000}, {40000, 60000}, {60000, 80000}, {80000, 100003}}},
      {20480, 2, {{0, 10240}, {10240, 20480}}},
      {20479, 5, {{0, 20479}}},
      {0, 5, {{0, 0}}},
      {100000, 0, {{0, 100000}}},
      {100000, -3, {{0, 100000}}},
      {100000, 1, {{0, 100000}}},
      {20480, 3, {{0, 6826}, {6826, 13652}, {13652, 20480}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " in " + std::to_string(c.count));
    const auto parts = splitParts(c.length, c.count);
    ASSERT_EQ(parts.size(), c.expected.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].start, c.expected[i].first);
      EXPECT_EQ(parts[i].end, c.expected[i].second);
      EXPECT_EQ(parts[i].done, 0);
      EXPECT_EQ(parts[i].owner, 0);
    }
  }
}

Part part(std::int64_t start, std::int64_t end, std::int64_t done, int owner, bool active = true) {
  Part p;
  p.start = start;
  p.end = end;
  p.done = done;
  p.owner = owner;
  p.active = active;
  return p;
}

TEST(ChooseTakeover, FirstFreeIncompletePartInOrder) {
  struct Case {
    const char *name;
    std::vector<Part> parts;
    std::optional<std::size_t> expected;
  };
  const Case cases[] = {
      {"all owned", {part(0, 10, 0, 1), part(10, 20, 0, 2)}, std::nullopt},
      {"all complete and free", {part(0, 10, 10, 0), part(10, 20, 10, 0)}, std::nullopt},
      {"first free one", {part(0, 10, 10, 0), part(10, 20, 3, 0), part(20, 30, 0, 0)}, 1},
      {"skips owned", {part(0, 10, 2, 4), part(10, 20, 3, 0)}, 1},
      {"an owner waiting for its reply still owns", {part(0, 10, 0, 2, false)}, std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chooseTakeover(c.parts), c.expected);
  }
}

// Runs a whole pass for connection `me` over `parts` and returns the
// steps as text, e.g. "D0-10 W10-20* E".
std::string runPass(std::vector<Part> parts, int me) {
  std::string out;
  std::int64_t position = 0;
  for (int guard = 0; guard < 100; ++guard) {
    const PassStep step = planPass(parts, position, me);
    if (!out.empty())
      out += ' ';
    if (step.kind == PassStep::Kind::End)
      return out + "E";
    out += step.kind == PassStep::Kind::Discard ? "D" : "W";
    out += std::to_string(position) + "-" + std::to_string(step.until);
    if (step.claimed)
      out += "*";
    if (step.kind == PassStep::Kind::Write)
      parts[step.part].done += step.until - position;
    position = step.until;
  }
  return out + " (no end)";
}

TEST(PlanPass, WritesOnlyWhatNobodyElseIsReceiving) {
  struct Case {
    const char *name;
    std::vector<Part> parts;
    const char *expected;
  };
  const Case cases[] = {
      {"everything missing and free",
       {part(0, 10, 0, 0), part(10, 20, 0, 0)},
       "W0-10* W10-20* E"},
      {"complete first part, own second part",
       {part(0, 10, 10, 0), part(10, 20, 4, 2)},
       "D0-10 D10-14 W14-20 E"},
      {"a part another connection receives is left to it",
       {part(0, 10, 2, 1, true), part(10, 20, 0, 0)},
       "D0-10 W10-20* E"},
      {"a part whose owner still waits for its reply is taken",
       {part(0, 10, 0, 3, false), part(10, 20, 5, 0)},
       "W0-10* D10-15* W15-20 E"},
      {"zero-length file", {part(0, 0, 0, 0)}, "E"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(runPass(c.parts, 2), c.expected);
  }
}

TEST(PlanPass, NeverWritesBehindAPartsFirstMissingByte) {
  // The stream already stands past the part's first missing byte: writing
  // there would leave a hole, so the bytes are dropped for a later pass.
  std::vector<Part> parts{part(0, 10, 2, 0)};
  const PassStep step = planPass(parts, 5, 1);
  EXPECT_EQ(step.kind, PassStep::Kind::Discard);
  EXPECT_EQ(step.until, 10);
  EXPECT_FALSE(step.claimed);
  EXPECT_EQ(parts[0].owner, 0);
}

TEST(AllComplete, EveryPartMustBeDone) {
  EXPECT_TRUE(allComplete({part(0, 10, 10, 1), part(10, 20, 10, 0)}));
  EXPECT_FALSE(allComplete({part(0, 10, 10, 1), part(10, 20, 9, 0)}));
  EXPECT_TRUE(allComplete({part(0, 0, 0, 0)}));
}

} // namespace
} // namespace download
