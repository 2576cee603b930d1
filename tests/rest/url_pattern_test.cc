#include "rest/url_pattern.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "rest/url_template.h"

namespace Tesk {
namespace {

// The compiled matcher must accept and capture exactly what the template's
// regular expression does; the standard library engine is the reference.
TEST(UrlPattern, MatchesAsTheTemplatesRegularExpression) {
  const char* templates[] = {
      "/offers/{id}/reveal", "/files/{+path}", "/a/{x}{y}",   "/f/{+p}/end",
      "/d{#frag}",           "/m/{a}.{b}",     "/r/{+a}/{b}", "/x/{id}",
  };
  const char* urls[] = {
      "/offers/abc/reveal",
      "/offers//reveal",
      "/offers/a/b/reveal",
      "/offers/a%20b/reveal",
      "/files/a/b/c",
      "/files/",
      "/a/xy",
      "/f/1/end/2/end",
      "/f/end",
      "/d#top",
      "/d#",
      "/dx",
      "/m/a.b.c",
      "/m/.",
      "/r/a/b/c",
      "/r/",
      "/x/1?q=2",
      "/x/1/2",
      "/x/",
      "",
      // A line terminator ends what "." matches, never what "[^/]" matches.
      "/files/a\r\nb",
      "/files/a\nb",
      "/f/1\r/end",
      "/d#x\ny",
      "/offers/a\nb/reveal",
      "/r/a\r/b\n",
  };
  for (const char* templateText : templates) {
    const CompiledRoute route = CompileRoute(templateText, HttpMethod::None, "");
    ASSERT_NE(route.matcher, nullptr);
    const std::regex reference(route.pattern, std::regex::ECMAScript);
    for (const char* url : urls) {
      SCOPED_TRACE(std::string(templateText) + " " + url);
      std::smatch expected;
      const std::string text(url);
      const bool expectedMatch = std::regex_match(text, expected, reference);
      std::vector<std::string_view> groups;
      ASSERT_EQ(route.matcher->FullMatch(text, groups), expectedMatch);
      if (!expectedMatch) continue;
      ASSERT_EQ(groups.size() + 1, expected.size());
      for (size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(groups[i], expected[i + 1].str());
    }
  }
}

// A regex engine that recurses per character overflows the stack here.
TEST(UrlPattern, LongUrlsMatchWithoutDeepRecursion) {
  const CompiledRoute route = CompileRoute("/offers/{id}/reveal", HttpMethod::Post, "");
  const std::string id(1 << 20, 'a');
  std::vector<std::string_view> groups;
  EXPECT_TRUE(route.matcher->FullMatch("/offers/" + id + "/reveal", groups));
  EXPECT_EQ(groups.at(0).size(), id.size());
  EXPECT_FALSE(route.matcher->FullMatch("/offers/" + id + "/revea", groups));
}

}  // namespace
}  // namespace Tesk
