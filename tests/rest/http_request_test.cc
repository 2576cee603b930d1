#include "rest/http_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "scripted_host.h"

namespace Tesk {
namespace {

using namespace Testing;

using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kUserAgent = "TeskClient/18.0.0 (test)";

class HttpRequestTest : public ::testing::Test {
 protected:
  ScriptedHost host_;
  HostRequestTarget target_{host_, 7, kUserAgent, nullptr};
  ReleaseCounter releases_;
};

TEST_F(HttpRequestTest, RecordCarriesTheRequest) {
  Tesk::HttpRequest request;
  request.method = HttpMethod::Post;
  request.url = "https://offers.example/v1/accept";
  request.headers = {{"content-type", "application/json"}, {"authorization", "Bearer t"}};
  request.body = std::string("{\"a\":\0}", 7);
  request.timeout = 30;
  request.flag = 1;
  host_.httpAnswer = [](HttpResponseRecord& r) { r.httpStatus = 200; };

  const HttpResponse response = SendHttpRequest(target_, request);
  EXPECT_EQ(response.status, 200u);

  ASSERT_EQ(host_.httpRequests.size(), 1u);
  const RecordedHttpRequest& sent = host_.httpRequests[0];
  EXPECT_EQ(sent.record.method, 6u);
  EXPECT_EQ(sent.url, "https://offers.example/v1/accept");
  EXPECT_EQ(sent.headers, (Headers{{"user-agent", kUserAgent},
                                   {"authorization", "Bearer t"},
                                   {"content-type", "application/json"}}));
  EXPECT_EQ(sent.record.headerCount, 3u);
  EXPECT_EQ(sent.body, request.body) << "all bytes, a NUL included";
  EXPECT_EQ(sent.record.timeout, 30u);
  EXPECT_EQ(sent.record.flag, 1);
  EXPECT_TRUE(sent.responseIsTheCallers);
  EXPECT_EQ(sent.record.one, 1);
  if constexpr (sizeof(void*) == 4) {
    ASSERT_EQ(sent.bytes.size(), 48u);
    uint32_t word = 0;
    std::memcpy(&word, sent.bytes.data() + 20, 4);
    EXPECT_EQ(word, 7u) << "body length";
    std::memcpy(&word, sent.bytes.data() + 24, 4);
    EXPECT_EQ(word, 30u) << "time-out";
    EXPECT_EQ(sent.bytes[28], 1) << "flag";
    EXPECT_EQ(sent.bytes[44], 1);
    for (size_t offset : {29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 45, 46, 47}) {
      EXPECT_EQ(sent.bytes[offset], 0) << offset;
    }
  }
}

TEST_F(HttpRequestTest, UserAgentGoesFirstUnlessTheRequestNamesOne) {
  const std::pair<std::map<std::string, std::string>, Headers> cases[] = {
      {{}, {{"user-agent", kUserAgent}}},
      {{{"a", "1"}, {"z", "2"}}, {{"user-agent", kUserAgent}, {"a", "1"}, {"z", "2"}}},
      {{{"User-Agent", "mine"}}, {{"User-Agent", "mine"}}},
      {{{"USER-AGENT", "mine"}, {"a", "1"}}, {{"USER-AGENT", "mine"}, {"a", "1"}}},
      {{{"user-agents", "x"}}, {{"user-agent", kUserAgent}, {"user-agents", "x"}}},
  };
  for (const auto& [headers, sent] : cases) {
    host_.httpRequests.clear();
    Tesk::HttpRequest request;
    request.url = "https://offers.example/";
    request.headers = headers;
    (void)SendHttpRequest(target_, request);
    ASSERT_EQ(host_.httpRequests.size(), 1u);
    EXPECT_EQ(host_.httpRequests[0].headers, sent);
  }
}

// What the host's record becomes, and the record given back once.
TEST_F(HttpRequestTest, ResponseIsBuiltFromTheRecord) {
  static HostHeader headers[] = {{"content-type", "application/json"}, {"x-id", nullptr}};
  static char body[] = "{\"ok\":true}";
  const int32_t bodyLength = static_cast<int32_t>(std::strlen(body));
  struct Case {
    const char* what;
    HttpResponseRecord record;
    HttpResponse expected;
  };
  const std::string failed = "Error converting response for GET https://offers.example/v1/x: ";
  const Case cases[] = {
      {"success",
       {0, 200, headers, 2, body, bodyLength, nullptr},
       {0, 200, false, "", {{"content-type", "application/json"}, {"x-id", ""}}, body}},
      {"result code 2 is kept; the body is the message",
       {2, 0, headers, 2, body, bodyLength, nullptr},
       {2, 0, false, body, {}, ""}},
      {"result code -1 is kept",
       {0xFFFFFFFFu, 0, nullptr, 0, nullptr, 0, nullptr},
       {0xFFFFFFFFu, 0, false, "", {}, ""}},
      {"other result codes read as 1",
       {5, 0, nullptr, 0, body, 4, nullptr},
       {1, 0, false, "{\"ok", {}, ""}},
      {"result code 1", {1, 503, nullptr, 0, nullptr, 0, nullptr}, {1, 503, false, "", {}, ""}},
      {"headers counted but null",
       {0, 200, nullptr, 3, body, bodyLength, nullptr},
       {0, 200, true, failed + "headers was null", {}, body}},
      {"body length but null body",
       {0, 200, headers, 1, nullptr, 5, nullptr},
       {0, 200, true, failed + "body was null", {{"content-type", "application/json"}}, ""}},
      {"both null: the headers are reported",
       {0, 200, nullptr, 1, nullptr, 5, nullptr},
       {0, 200, true, failed + "headers was null", {}, ""}},
      {"negative body length",
       {0, 200, nullptr, 0, body, -1, nullptr},
       {0, 200, true, failed + "body length was negative", {}, ""}},
      {"negative body length on a failed request",
       {1, 0, nullptr, 0, body, -1, nullptr},
       {1, 0, false, "", {}, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    releases_.Reset();
    host_.httpAnswer = [&](HttpResponseRecord& r) {
      r = c.record;
      releases_.Attach(r);
    };
    Tesk::HttpRequest request;
    request.url = "https://offers.example/v1/x";
    const HttpResponse response = SendHttpRequest(target_, request);
    EXPECT_EQ(response.resultCode, c.expected.resultCode);
    EXPECT_EQ(response.status, c.expected.status);
    EXPECT_EQ(response.conversionFailed, c.expected.conversionFailed);
    EXPECT_EQ(response.message, c.expected.message);
    EXPECT_EQ(response.headers, c.expected.headers);
    EXPECT_EQ(response.body, c.expected.body);
    EXPECT_EQ(releases_.count(), 1);
  }
}

}  // namespace
}  // namespace Tesk
