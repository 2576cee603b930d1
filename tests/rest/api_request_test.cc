#include "rest/api_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "codecs/json.h"
#include "diagnostics/sdk_allocator.h"
#include "scripted_host.h"

namespace Tesk {
namespace {

using namespace Testing;

constexpr uint32_t kHandle = 0x4321;

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t word = 0;
  std::memcpy(&word, bytes.data() + offset, sizeof(word));
  return word;
}

std::string Field(const RequestFailure& failure, const char* name) {
  const auto found = failure.fields.find(name);
  if (found == failure.fields.end()) return "<none>";
  if (found->second.kind == FormatArgumentKind::Text) return found->second.text;
  return std::to_string(found->second.AsSigned());
}

class ApiRequestTest : public ::testing::Test {
 protected:
  // A result text that the host keeps until the response is released.
  const char* HostText(std::string text) { return texts_.emplace_back(std::move(text)).c_str(); }

  ScriptedHost host_;
  HostRequestTarget target_{host_, kHandle, "TeskClient/18.0.0 (test)", nullptr};
  ReleaseCounter releases_{&host_.log};
  ScriptedStream stream_;
  std::deque<std::string> texts_;  // keeps HostText's pointers valid

  void SetUp() override { stream_.log = &host_.log; }
};

TEST_F(ApiRequestTest, RecordCarriesMethodUrlHandleAndZeros) {
  EXPECT_FALSE(SendApiRequest(target_, HttpMethod::Delete, "/test-plugin/v1/thing").has_value());

  ASSERT_EQ(host_.apiRequests.size(), 1u);
  const RecordedApiRequest& sent = host_.apiRequests[0];
  EXPECT_EQ(sent.record.method, 1u);
  EXPECT_EQ(sent.url, "/test-plugin/v1/thing");
  EXPECT_TRUE(sent.record.arguments == nullptr);
  EXPECT_EQ(sent.record.argumentCount, 0u);
  EXPECT_EQ(sent.record.pluginHandle, kHandle);
  if constexpr (sizeof(void*) == 4) {
    ASSERT_EQ(sent.bytes.size(), 48u);
    EXPECT_EQ(WordAt(sent.bytes, 0), 1u);
    EXPECT_EQ(WordAt(sent.bytes, 12), 0u);
    for (size_t offset = 16; offset < 40; ++offset) EXPECT_EQ(sent.bytes[offset], 0) << offset;
    EXPECT_EQ(WordAt(sent.bytes, 40), kHandle);
    EXPECT_EQ(WordAt(sent.bytes, 44), 0u);
  } else {
    for (uint8_t byte : sent.record.reserved) EXPECT_EQ(byte, 0);
    EXPECT_EQ(sent.record.reserved2, 0u);
  }
}

TEST_F(ApiRequestTest, StringParametersTravelAsOneStructureArgumentReleasedAfterTheCall) {
  const auto liveBlocks = [] {
    const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
    return counters.allocations - counters.frees;
  };
  const auto send = [this] {
    return SendApiRequest(target_, HttpMethod::Post, "/telemetry/v1/events/offer_viewed",
                          {{"offerId", "o-1"}, {"count", "3"}});
  };
  EXPECT_FALSE(send().has_value());
  // The first call may leave process-wide pools behind; a second one leaves nothing.
  const uint64_t before = liveBlocks();
  EXPECT_FALSE(send().has_value());
  EXPECT_EQ(liveBlocks(), before) << "the argument's host value is released";

  ASSERT_EQ(host_.apiRequests.size(), 2u);
  const RecordedApiRequest& sent = host_.apiRequests[1];
  EXPECT_EQ(sent.record.method, 6u);
  EXPECT_EQ(sent.url, "/telemetry/v1/events/offer_viewed");
  EXPECT_EQ(sent.record.argumentCount, 1u);
  EXPECT_EQ(sent.argumentTag, static_cast<uint32_t>(HostValueTag::Structure));
  ASSERT_EQ(sent.arguments.size(), 1u);
  EXPECT_FALSE(sent.arguments[0].first.has_value()) << "the argument has no name";
  EXPECT_EQ(sent.arguments[0].second, R"({"count":"3","offerId":"o-1"})");
  EXPECT_EQ(sent.record.pluginHandle, kHandle);

  // No parameters: still one (empty) structure argument.
  EXPECT_FALSE(SendApiRequest(target_, HttpMethod::Post, "/t", {}).has_value());
  ASSERT_EQ(host_.apiRequests.size(), 3u);
  EXPECT_EQ(host_.apiRequests[2].arguments.at(0).second, "{}");
}

// Every failure of a request: its message, error code and named fields, and
// the answer given back exactly once.
TEST_F(ApiRequestTest, FailuresCarryMessageCodeAndFields) {
  struct Case {
    const char* what;
    std::function<void(ResponseRecord&)> answer;
    bool streamed;
    uint32_t errorCode;
    std::string message;
    std::string error;  // the {error} field
  };
  const auto errorText = [this](const char* text, uint32_t status) {
    return [this, text, status](ResponseRecord& r) {
      r.errorText = const_cast<char*>(HostText(text));
      r.failed = 1;
      r.httpStatus = status;
    };
  };
  const auto streamOf = [this](std::vector<ScriptedStream::Chunk> chunks) {
    return [this, chunks](ResponseRecord& r) {
      stream_.chunks = chunks;
      stream_.Attach(r);
    };
  };
  const std::string incompatible =
      "Couldn't assign value to '<result>' of type object because the input is of an "
      "incompatible type ''.";
  const std::string notAnInt32 = "Value abc for '<result>' of type int32 is in an incorrect format";
  const Case cases[] = {
      {"error response with a status", errorText("no such resource", 404), false, 404,
       "Error response for GET /test-plugin/v1/thing: no such resource", "no such resource"},
      {"error response without a status", errorText("host gone", 0), false, 0,
       "Error response for GET /test-plugin/v1/thing: host gone", "host gone"},
      {"error response with a stream",
       [&](ResponseRecord& r) {
         errorText("bad", 500)(r);
         streamOf({{"1", false}})(r);
       },
       true, 500, "Error response for GET /test-plugin/v1/thing: bad", "bad"},
      {"failed stream read", streamOf({{"[1,", true}, {"", false, true}}), true, 0,
       "Error reading streamed response for GET /test-plugin/v1/thing: Stream read error",
       "Stream read error"},
      {"read claiming more than the buffer", streamOf({{"1", false, false, 4097}}), true, 0,
       "Error reading streamed response for GET /test-plugin/v1/thing: Stream read error",
       "Stream read error"},
      {"empty stream", streamOf({{"", false}}), true, 0,
       "Error reading streamed response for GET /test-plugin/v1/thing: Error: The document is "
       "empty. "
       "at offset 0.",
       "Error: The document is empty. at offset 0."},
      {"streamed text of the wrong type", streamOf({{"\"abc\"", false}}), true, 0,
       "Error converting response for GET /test-plugin/v1/thing: " + notAnInt32, notAnInt32},
      {"result of an unlisted tag", [](ResponseRecord& r) { r.result.tag = 42; }, false, 0,
       "Error converting response for GET /test-plugin/v1/thing: " + incompatible, incompatible},
      {"result of the wrong type",
       [this](ResponseRecord& r) {
         r.result.tag = static_cast<uint32_t>(HostValueTag::String);
         r.result.string.text = HostText("abc");
         r.result.string.length = 3;
       },
       false, 0, "Error converting response for GET /test-plugin/v1/thing: " + notAnInt32,
       notAnInt32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host_.log.clear();
    stream_ = ScriptedStream{};
    stream_.log = &host_.log;
    host_.apiAnswer = [&](ResponseRecord& r) {
      c.answer(r);
      releases_.Attach(r);
    };
    releases_.Reset();

    const RequestResult<int32_t> result =
        SendApiRequestFor<int32_t>(target_, HttpMethod::Get, "/test-plugin/v1/thing");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.value, 0);
    EXPECT_EQ(result.failure->errorCode, c.errorCode);
    EXPECT_EQ(result.failure->message, c.message);
    EXPECT_EQ(Field(*result.failure, "method"), "GET");
    EXPECT_EQ(Field(*result.failure, "url"), "/test-plugin/v1/thing");
    EXPECT_EQ(Field(*result.failure, "error"), c.error);
    EXPECT_EQ(Field(*result.failure, "errorCode_int"),
              c.errorCode != 0 ? std::to_string(c.errorCode) : "<none>");
    EXPECT_EQ(result.failure->fields.size(), c.errorCode != 0 ? 4u : 3u);

    EXPECT_EQ(stream_.releases, c.streamed ? 1 : 0);
    EXPECT_EQ(releases_.count(), 1);
    ASSERT_FALSE(host_.log.empty());
    EXPECT_EQ(host_.log.back(), "response release") << "the record goes back last";
  }
}

TEST_F(ApiRequestTest, ErrorResponseFailsTheRequestsWithoutResultToo) {
  host_.apiAnswer = [this](ResponseRecord& r) {
    r.errorText = const_cast<char*>(HostText("forbidden"));
    r.failed = 1;
    r.httpStatus = 403;
    releases_.Attach(r);
  };
  const std::optional<RequestFailure> plain =
      SendApiRequest(target_, HttpMethod::Put, "/test-plugin/v1/thing");
  const std::optional<RequestFailure> withParameters =
      SendApiRequest(target_, HttpMethod::Post, "/telemetry/v1/events/e", {{"a", "b"}});
  ASSERT_TRUE(plain.has_value());
  ASSERT_TRUE(withParameters.has_value());
  EXPECT_EQ(plain->errorCode, 403u);
  EXPECT_EQ(plain->message, "Error response for PUT /test-plugin/v1/thing: forbidden");
  EXPECT_EQ(withParameters->message, "Error response for POST /telemetry/v1/events/e: forbidden");
  EXPECT_EQ(releases_.count(), 2);
}

TEST_F(ApiRequestTest, ResultsConvertFromTheHostValueOrTheStream) {
  host_.apiAnswer = [this](ResponseRecord& r) {
    r.result.tag = static_cast<uint32_t>(HostValueTag::Signed);
    r.result.signedValue = -12;
    releases_.Attach(r);
  };
  const RequestResult<int32_t> number =
      SendApiRequestFor<int32_t>(target_, HttpMethod::Get, "/test-plugin/v1/number");
  EXPECT_TRUE(number.ok());
  EXPECT_EQ(number.value, -12);

  host_.apiAnswer = [this](ResponseRecord& r) {
    stream_.chunks = {{R"({"b":[1,2],"a":"x"})", false}};
    stream_.Attach(r, 19);
    r.result.tag = 42;  // a streamed response's value is its stream
    releases_.Attach(r);
  };
  const RequestResult<BindingProperty> tree =
      SendApiRequestFor<BindingProperty>(target_, HttpMethod::Get, "/test-plugin/v1/tree");
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ(tree.value.Member("a").GetString(), "x");
  EXPECT_EQ(tree.value.Member("b").Size(), 2u);
  EXPECT_EQ(stream_.releases, 1);
  EXPECT_EQ(releases_.count(), 2);
}

TEST_F(ApiRequestTest, RequestWithoutResultIgnoresTheAnswerButReleasesIt) {
  host_.apiAnswer = [this](ResponseRecord& r) {
    stream_.chunks = {{"not json", false}};
    stream_.Attach(r);
    r.result.tag = 42;
    releases_.Attach(r);
  };
  EXPECT_FALSE(SendApiRequest(target_, HttpMethod::Get, "/test-plugin/v1/thing").has_value());
  EXPECT_EQ(stream_.next, 0u) << "the stream is not read";
  EXPECT_EQ(stream_.releases, 1);
  EXPECT_EQ(releases_.count(), 1);
}

TEST_F(ApiRequestTest, StreamWithoutReleaseFunctionsAndRecordWithoutReleaseAreFine) {
  host_.apiAnswer = [this](ResponseRecord& r) {
    stream_.chunks = {{"true", false}};
    stream_.Attach(r);
    r.streamRelease = nullptr;
  };
  const RequestResult<bool> result =
      SendApiRequestFor<bool>(target_, HttpMethod::Get, "/test-plugin/v1/flag");
  EXPECT_TRUE(result.ok());
  EXPECT_TRUE(result.value);
  EXPECT_EQ(stream_.releases, 0);
  EXPECT_EQ(releases_.count(), 0);
}

// Chunks of the stream: how many reads and yields they take and what is read.
TEST_F(ApiRequestTest, StreamIsReadInChunksYieldingAfterShortReadsWithMoreData) {
  const auto jsonText = [](size_t size) { return "\"" + std::string(size - 2, 'a') + "\""; };
  const std::string full = jsonText(4106);
  struct Case {
    const char* what;
    std::vector<ScriptedStream::Chunk> chunks;
    uint32_t sizeHint;
    std::vector<std::string> log;
    std::string json;  // what was read, written back
  };
  const Case cases[] = {
      {"full chunk with more data, then a short last one",
       {{full.substr(0, 4096), true}, {full.substr(4096), false}},
       4106,
       {"read 4096", "read 4096", "stream release", "response release"},
       full},
      {"one full chunk without more data",
       {{jsonText(4096), false}, {"x", false}},
       0,
       {"read 4096", "stream release", "response release"},
       jsonText(4096)},
      {"short chunks with more data yield between reads",
       {{"[1", true}, {"", true}, {",2]", false}},
       0,
       {"read 4096", "wait start Wait: yield 0", "yield", "wait end", "read 4096",
        "wait start Wait: yield 0", "yield", "wait end", "read 4096", "stream release",
        "response release"},
       "[1,2]"},
      {"a size hint that cannot be reserved is ignored",
       {{"[]", false}},
       sizeof(void*) == 4 ? 0xFFFFFFFFu : 0u,
       {"read 4096", "stream release", "response release"},
       "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host_.log.clear();
    stream_ = ScriptedStream{};
    stream_.log = &host_.log;
    host_.apiAnswer = [&](ResponseRecord& r) {
      stream_.chunks = c.chunks;
      stream_.Attach(r, c.sizeHint);
      releases_.Attach(r);
    };
    const RequestResult<BindingProperty> result =
        SendApiRequestFor<BindingProperty>(target_, HttpMethod::Get, "/test-plugin/v1/stream");
    ASSERT_TRUE(result.ok()) << result.failure->message;
    EXPECT_EQ(host_.log, c.log);
    const std::string json = WriteJson(result.value);
    EXPECT_EQ(json.size(), c.json.size());
    EXPECT_TRUE(json == c.json);
  }
}

}  // namespace
}  // namespace Tesk
