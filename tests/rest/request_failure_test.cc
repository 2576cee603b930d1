#include "rest/request_failure.h"

#include <gtest/gtest.h>

namespace Tesk {
namespace {

TEST(MakeRequestFailure, FillsTheTemplateAndRecordsItsFields) {
  const RequestFailure coded = MakeRequestFailure(404, "Error response for {method} {url}: {error}",
                                                  {"GET", "/a%20b/{id}", "100% {gone}"});
  EXPECT_EQ(coded.errorCode, 404u);
  EXPECT_EQ(coded.message, "Error response for GET /a%20b/{id}: 100% {gone}")
      << "values are taken literally";
  ASSERT_EQ(coded.fields.size(), 4u);
  EXPECT_EQ(coded.fields.at("method").text, "GET");
  EXPECT_EQ(coded.fields.at("url").text, "/a%20b/{id}");
  EXPECT_EQ(coded.fields.at("error").text, "100% {gone}");
  EXPECT_EQ(coded.fields.at("errorCode_int").AsUnsigned(), 404u);

  const RequestFailure uncoded = MakeRequestFailure(
      0, "Error converting response for {method} {url}: {error}", {"POST", "/x", "bad"});
  EXPECT_EQ(uncoded.errorCode, 0u);
  EXPECT_EQ(uncoded.message, "Error converting response for POST /x: bad");
  EXPECT_FALSE(uncoded.fields.contains("errorCode_int"));
  EXPECT_EQ(uncoded.fields.size(), 3u);
}

}  // namespace
}  // namespace Tesk
