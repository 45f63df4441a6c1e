// Following redirects: the next address, the cookie carried, the limit.
#include "download/redirect.h"

#include <gtest/gtest.h>

namespace download {
namespace {

ReplyHeader redirect(std::optional<std::string> location,
                     std::optional<std::string> cookie = std::nullopt) {
  ReplyHeader reply;
  reply.status = 302;
  reply.location = std::move(location);
  reply.cookie = std::move(cookie);
  return reply;
}

TEST(RedirectTrail, FollowsAChainAndKeepsTheLatestCookie) {
  struct Step {
    ReplyHeader reply;
    const char *address; // after the step
    const char *cookie;
  };
  const Step steps[] = {
      {redirect("/b/one.zip", "a=1"), "http://h:81/b/one.zip", "a=1"},
      {redirect("two.zip"), "http://h:81/b/two.zip", "a=1"},
      {redirect("http://other/c/three.zip", "b=2"), "http://other/c/three.zip", "b=2"},
  };
  RedirectTrail trail(*parseUrl("http://h:81/a/start.zip"));
  EXPECT_EQ(trail.cookie(), "");
  for (const Step &step : steps) {
    SCOPED_TRACE(step.address);
    ASSERT_TRUE(trail.follow(step.reply));
    EXPECT_EQ(trail.current().text(), step.address);
    EXPECT_EQ(trail.cookie(), step.cookie);
  }
  EXPECT_EQ(trail.followed(), 3);
}

TEST(RedirectTrail, EndsALoopAfterTwentyRedirects) {
  RedirectTrail trail(*parseUrl("http://h/loop.zip"));
  for (int i = 0; i < kMaxRedirects; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(trail.follow(redirect("/loop.zip")));
  }
  auto refused = trail.follow(redirect("/loop.zip"));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, ErrorKind::Refused);
  EXPECT_EQ(trail.followed(), kMaxRedirects);
}

TEST(RedirectTrail, RefusesWhatCannotBeFollowed) {
  struct Case {
    const char *name;
    ReplyHeader reply;
  };
  const Case cases[] = {
      {"no Location", redirect(std::nullopt, "c=1")},
      {"ftp", redirect("ftp://h/f.zip")},
      {"another scheme", redirect("https://h/f.zip")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RedirectTrail trail(*parseUrl("http://h/a/f.zip"));
    auto result = trail.follow(c.reply);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::Refused);
    // A refused redirect changes nothing, not even the cookie.
    EXPECT_EQ(trail.current().text(), "http://h/a/f.zip");
    EXPECT_EQ(trail.cookie(), "");
  }
}

} // namespace
} // namespace download
