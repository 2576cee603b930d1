#include <gtest/gtest.h>

#include <vector>

#include "rest/url_template.h"

namespace Tesk {
namespace {

TEST(PercentDecode, DecodesEscapesAndKeepsWhatIsNotOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"%41", "A"},     {"a+b", "a b"}, {"100%", "100"},    {"%4", "4"},
      {"%zz1", "%zz1"}, {"%4g", "%4g"}, {"a%20b", "a b"},   {"%e9%C3", "\xe9\xc3"},
      {"", ""},         {"%%41", "%A"}, {"plain", "plain"},
  };
  for (const auto& [input, decoded] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(PercentDecode(input), decoded);
  }
}

TEST(CompileRoute, BuildsPatternsAndPlaceholders) {
  const CompiledRoute reveal =
      CompileRoute("/tav-personalized-offers/v1/offers/{id}/reveal", HttpMethod::Post, "");
  EXPECT_EQ(reveal.pattern, "/tav-personalized-offers/v1/offers/([^/]*)/reveal");
  ASSERT_EQ(reveal.placeholders.size(), 1u);
  EXPECT_EQ(reveal.placeholders[0].name, "id");
  EXPECT_EQ(reveal.placeholders[0].kind, UrlPlaceholder::Kind::Simple);

  const CompiledRoute files = CompileRoute("/files.v1/{+path}{#part}", HttpMethod::None, "");
  EXPECT_EQ(files.pattern, "/files\\.v1/(.*)#(.*)");
  ASSERT_EQ(files.placeholders.size(), 2u);
  EXPECT_EQ(files.placeholders[0].kind, UrlPlaceholder::Kind::Reserved);
  EXPECT_EQ(files.placeholders[1].kind, UrlPlaceholder::Kind::Fragment);
  EXPECT_EQ(files.placeholders[1].name, "part");

  const CompiledRoute status = CompileRoute("/a/status", HttpMethod::Get, "");
  EXPECT_EQ(status.literalPath, "/a/status");
  EXPECT_EQ(status.matcher, nullptr);

  EXPECT_EQ(NormalizeUrlTemplate("/a/b/"), "/a/b");
  EXPECT_EQ(NormalizeUrlTemplate("/"), "/");
}

struct MatchCase {
  const char* what;
  HttpMethod method;
  const char* url;
  bool matches;
  const char* id;
};

TEST(MatchRoute, ChecksMethodAndWholeUrl) {
  const std::vector<CompiledRoute> reveal = {
      CompileRoute("/o/v1/offers/{id}/reveal", HttpMethod::Post, "")};
  const std::vector<CompiledRoute> status = {CompileRoute("/o/v1/status", HttpMethod::Get, "")};
  const MatchCase revealCases[] = {
      {"decoded id", HttpMethod::Post, "/o/v1/offers/a%20b/reveal", true, "a b"},
      {"empty id", HttpMethod::Post, "/o/v1/offers//reveal", true, ""},
      {"two segments", HttpMethod::Post, "/o/v1/offers/a/b/reveal", false, nullptr},
      {"wrong method", HttpMethod::Get, "/o/v1/offers/a/reveal", false, nullptr},
      {"query after the path", HttpMethod::Post, "/o/v1/offers/a/reveal?x=1", true, "a"},
      {"query is never part of a value", HttpMethod::Post, "/o/v1/offers/a?/reveal", false,
       nullptr},
  };
  for (const MatchCase& c : revealCases) {
    SCOPED_TRACE(c.what);
    RouteMatch match(c.method, "", c.url);
    EXPECT_EQ(MatchRoute(reveal, match), c.matches);
    if (c.matches) {
      EXPECT_EQ(match.pathParameters.at("id"), c.id);
    }
  }
  for (const char* url : {"/o/v1/status/", "/o/v1/statusx?x=1", "/o/v1?/status"}) {
    RouteMatch match(HttpMethod::Get, "", url);
    EXPECT_FALSE(MatchRoute(status, match)) << url;
  }
  for (const char* url : {"/o/v1/status", "/o/v1/status?x=1", "/o/v1/status?"}) {
    RouteMatch match(HttpMethod::Get, "", url);
    EXPECT_TRUE(MatchRoute(status, match)) << url;
  }
}

TEST(MatchRoute, ShortestCaptureWinsAndCustomMethodsMustAgree) {
  const std::vector<CompiledRoute> routes = {
      CompileRoute("/x/{+rest}", HttpMethod::None, ""),
      CompileRoute("/x/{a}/{b}", HttpMethod::None, ""),
      CompileRoute("/x/{a}/{b}", HttpMethod::None, ""),
  };
  RouteMatch match(HttpMethod::Get, "", "/x/p/q");
  ASSERT_TRUE(MatchRoute(routes, match));
  EXPECT_EQ(match.matched, &routes[1]) << "2 captured bytes beat 3; the earlier wins a tie";

  const std::vector<CompiledRoute> custom = {CompileRoute("/c", HttpMethod::Custom, "PURGE")};
  RouteMatch purge(HttpMethod::Custom, "PURGE", "/c");
  EXPECT_TRUE(MatchRoute(custom, purge));
  RouteMatch other(HttpMethod::Custom, "LOCK", "/c");
  EXPECT_FALSE(MatchRoute(custom, other));
}

}  // namespace
}  // namespace Tesk
