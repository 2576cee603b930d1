#include "rest/request_dispatch.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_call_result.h"
#include "binding/binding_registry.h"
#include "rest/response_record.h"
#include "testing/host_value_text.h"

namespace Tesk {
namespace {

using Testing::HostValueText;
using Testing::TestValue;

// Answers with its argument vector as a structure of the parameters' names, so
// that a test sees where every candidate was placed.
class ArgumentEchoInvoker : public BindingInvoker {
 public:
  explicit ArgumentEchoInvoker(const BindingFunctionInfo& function) : function_(function) {}
  void* Start(BindingCallResult&, std::span<const BindingProperty> arguments, uint32_t) override {
    auto* echoed = new BindingProperty();
    echoed->MakeStructure();
    for (size_t i = 0; i < arguments.size(); ++i) {
      if (!arguments[i].IsEmpty()) echoed->MemberRef(function_.arguments[i].name) = arguments[i];
    }
    return echoed;
  }
  const TypeKey& ContextType() const override { return TypeKeyOf<BindingNoRequestContext>(); }
  void Finish(BindingCallResult& result, const BindingRequestContext*, void* token,
              uint32_t) override {
    result.result.value = *static_cast<BindingProperty*>(token);
    ++calls;
  }
  void Release(void* token) noexcept override { delete static_cast<BindingProperty*>(token); }

  int calls = 0;

 private:
  const BindingFunctionInfo& function_;
};

BindingArgumentInfo Parameter(const char* name, BindingValueType type) {
  BindingArgumentInfo parameter;
  parameter.name = name;
  parameter.type.type = type;
  return parameter;
}

// What a host sends: the record's texts and arrays live here.
struct TestRequest {
  uint32_t method = 2;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string contentType{};
  std::optional<std::string> body{};
  std::vector<std::pair<const char*, TestValue>> hostArguments{};
};

struct Answer {
  bool failed = false;
  std::string text;  // the error text, or the value as text
  uint32_t status = 0;
};

class RequestDispatch : public ::testing::Test {
 protected:
  RequestDispatch() {
    using V = BindingValueType;
    BindingFunctionInfo& probe = registry_.RegisterFunction(
        "Probe",
        {Parameter("id", V::String), Parameter("flag", V::Bool), Parameter("list", V::Vector),
         Parameter("filter", V::Object), Parameter("count", V::Int32),
         Parameter("apiKey", V::String), Parameter("payload", V::Object)});
    probe.route.method = 2;
    probe.route.urlTemplate = "/probe/{id}";
    using L = BindingArgumentLocation;
    probe.route.locations = {L::Path,  L::Anywhere, L::Anywhere, L::Anywhere,
                             L::Query, L::Header,   L::Body};
    probe.invoker = std::make_unique<ArgumentEchoInvoker>(probe);
    probe_ = &probe;

    BindingFunctionInfo& stray = registry_.RegisterFunction("Stray", {Parameter("id", V::String)});
    stray.route.urlTemplate = "/stray/{other}";
    stray.invoker = std::make_unique<ArgumentEchoInvoker>(stray);
    stray_ = &stray;

    BindingFunctionInfo& status = registry_.RegisterFunction(
        "Status", {Parameter("verbose", V::Bool), Parameter("_", V::String)});
    status.route.method = 2;
    status.route.urlTemplate = "/status";
    status.invoker = std::make_unique<ArgumentEchoInvoker>(status);
    status_ = &status;
  }

  Answer Send(const BindingFunctionInfo* function, const TestRequest& sent) {
    std::vector<HostHeader> headers;
    for (const auto& [name, value] : sent.headers) headers.push_back({name.c_str(), value.c_str()});
    std::vector<HostArgument> arguments;
    for (const auto& [name, value] : sent.hostArguments) {
      arguments.push_back({name, value.ToHostValue()});
    }
    DispatchContext context{&registry_, function, std::nullopt};
    IncomingRequestRecord request{};
    request.method = sent.method;
    request.url = sent.url.c_str();
    request.arguments = arguments.data();
    request.argumentCount = static_cast<uint32_t>(arguments.size());
    request.dispatchContext = &context;
    request.headers = headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = sent.contentType.c_str();
    request.body = sent.body ? sent.body->data() : nullptr;
    request.bodyLength = sent.body ? static_cast<uint32_t>(sent.body->size()) : 0;
    ResponseRecord response{};
    DispatchRequestEntry(&response, &request);
    for (HostArgument& argument : arguments) Testing::ReleaseHostValue(argument.value);

    Answer answer;
    answer.failed = response.failed != 0;
    answer.status = response.httpStatus;
    answer.text = answer.failed ? (response.errorText != nullptr ? response.errorText : "(null)")
                                : HostValueText(response.result);
    const ResponseReleaseFunction release = response.release;  // packed: copied first
    EXPECT_EQ(release, &ReleaseResponseRecord);
    if (response.release != nullptr) response.release(&response);
    return answer;
  }

  // Sends `request` to `function` and compares the answer with `expected`.
  void ExpectAnswer(const BindingFunctionInfo* function, const TestRequest& request,
                    const Answer& expected) {
    const Answer answer = Send(function, request);
    EXPECT_EQ(answer.failed, expected.failed);
    EXPECT_EQ(answer.text, expected.text);
    EXPECT_EQ(answer.status, expected.status);
  }

  BindingRegistry registry_;
  BindingFunctionInfo* probe_ = nullptr;
  BindingFunctionInfo* stray_ = nullptr;
  BindingFunctionInfo* status_ = nullptr;
};

struct PlacementCase {
  const char* label;
  TestRequest request;
  Answer expected;
};

TEST_F(RequestDispatch, PlacesCandidatesFromEverySource) {
  std::string deep = "filter";
  for (int level = 0; level < 600; ++level) deep += ".a";
  const PlacementCase cases[] = {
      {"path value decoded", {.url = "/probe/a%20b"}, {false, R"({"flag":false,"id":"a b"})"}},
      {"bool by name alone", {.url = "/probe/x?flag"}, {false, R"({"flag":true,"id":"x"})"}},
      {"vector read as JSON",
       {.url = "/probe/x?list=[1,2]"},
       {false, R"({"flag":false,"id":"x","list":[1,2]})"}},
      {"vector given a scalar stays text",
       {.url = "/probe/x?list=1"},
       {false, R"({"flag":false,"id":"x","list":"1"})"}},
      {"octal and decimal index address one element",
       {.url = "/probe/x?list.01=a&list.1=b"},
       {false, R"({"flag":false,"id":"x","list":[null,"b"]})"}},
      {"dotted members and indices",
       {.url = "/probe/x?filter.tags.0=a&filter.tags.1=b&filter.name=n"},
       {false, R"({"filter":{"name":"n","tags":["a","b"]},"flag":false,"id":"x"})"}},
      {"object as YAML",
       {.url = "/probe/x?filter=---%0Aa:%201"},
       {false, R"({"filter":{"a":1},"flag":false,"id":"x"})"}},
      {"empty object and vector",
       {.url = "/probe/x?filter=&list="},
       {false, R"({"filter":{},"flag":false,"id":"x","list":[]})"}},
      {"query name given twice keeps the last",
       {.url = "/probe/x?count=1&count=2"},
       {false, R"({"count":"2","flag":false,"id":"x"})"}},
      {"header named in lower case",
       {.url = "/probe/x", .headers = {{"apikey", "k1"}, {"apiKey", "no"}, {"apikey", "k2"}}},
       {false, R"({"apiKey":"k2","flag":false,"id":"x"})"}},
      {"host arguments by name and by position after the path values",
       {.url = "/probe/x",
        .hostArguments = {{nullptr, TestValue::Bool(true)}, {"count", TestValue::Signed(5)}}},
       {false, R"({"count":5,"flag":true,"id":"x"})"}},
      {"JSON body with a charset",
       {.method = 2,
        .url = "/probe/x",
        .contentType = "Application/JSON; charset=utf-8",
        .body = R"({"k":[true]})"},
       {false, R"({"flag":false,"id":"x","payload":{"k":[true]}})"}},
      {"JSON body ends at its first NUL",
       {.url = "/probe/x",
        .contentType = "application/vnd.api+json",
        .body = std::string("[1]\0garbage", 11)},
       {false, R"({"flag":false,"id":"x","payload":[1]})"}},
      {"MessagePack body",
       {.url = "/probe/x", .contentType = "application/x-msgpack", .body = "\x81\xa1k\x01"},
       {false, R"({"flag":false,"id":"x","payload":{"k":1}})"}},
      {"YAML body",
       {.url = "/probe/x", .contentType = "application/x-yaml", .body = "k: v"},
       {false, R"({"flag":false,"id":"x","payload":{"k":"v"}})"}},

      {"method mismatch", {.method = 6, .url = "/probe/x"}, {true, "Invalid function", 404}},
      {"path mismatch", {.url = "/probe/x/y"}, {true, "Invalid function", 404}},
      {"unknown query argument",
       {.url = "/probe/x?nope=1"},
       {true, "Unknown argument 'nope' for 'Probe'."}},
      {"path parameter given in the query",
       {.url = "/probe/x?id=y"},
       {true, "Argument 'id' for 'Probe' was specified in an invalid location."}},
      {"query-only parameter given as a header",
       {.url = "/probe/x", .headers = {{"count", "1"}}},
       {false, R"({"flag":false,"id":"x"})"}},
      {"empty value for a number",
       {.url = "/probe/x?count="},
       {true, "Expected value for argument 'count'."}},
      {"index with trailing characters",
       {.url = "/probe/x?list.1a=v"},
       {true, "Index 1a is in an incorrect format"}},
      {"index of 2^31",
       {.url = "/probe/x?list.2147483648=v"},
       {true, "Index 2147483648 is out of range"}},
      {"index beyond the bound",
       {.url = "/probe/x?list.65536=v"},
       {true, "Index 65536 is out of range"}},
      {"index that overflows 64 bits",
       {.url = "/probe/x?list.99999999999999999999999=v"},
       {true, "Index 99999999999999999999999 is out of range"}},
      // One request's indices add at most 65,536 elements in all.
      {"largest indices at two levels",
       {.url = "/probe/x?filter.65535.65535=v"},
       {true,
        "Index 65535 of argument 'filter' for 'Probe' needs more elements than one request "
        "may create."}},
      {"largest indices in two candidates",
       {.url = "/probe/x?filter.a.65535=v&filter.b.0=w"},
       {true,
        "Index 0 of argument 'filter' for 'Probe' needs more elements than one request "
        "may create."}},
      {"indices reusing elements cost nothing more",
       {.url = "/probe/x?filter.1.a=v&filter.1.b=w&filter.0=u"},
       {false, R"({"filter":["u",{"a":"v","b":"w"}],"flag":false,"id":"x"})"}},
      {"path nested too deeply",
       {.url = "/probe/x?" + deep + "=v"},
       {true, "Argument 'filter' for 'Probe' is nested too deeply."}},
      {"malformed JSON value",
       {.url = "/probe/x?filter={bad"},
       {true,
        "Couldn't deserialize JSON value for parameter 'filter' of 'Probe': Error: Missing a name "
        "for object member. at offset 1."}},
      {"malformed MessagePack value",
       {.url = "/probe/x?filter=%81%C1"},
       {true,
        "Couldn't deserialize MessagePack value for parameter 'filter' of 'Probe': Invalid "
        "MessagePack data at position 2. Map keys must be strings."}},
      {"malformed YAML value",
       {.url = "/probe/x?filter=---%0A[a"},
       {true,
        "Couldn't deserialize YAML value for parameter 'filter' of 'Probe': YAML parser error: "
        "did not find expected ',' or ']'. At line: 2 col: 0"}},
      {"unnamed host argument past the parameters",
       {.url = "/probe/x",
        .hostArguments = {{nullptr, TestValue()},
                          {nullptr, TestValue()},
                          {nullptr, TestValue()},
                          {nullptr, TestValue()},
                          {nullptr, TestValue()},
                          {nullptr, TestValue()},
                          {nullptr, TestValue()}}},
       {true, "Unknown argument '7' for 'Probe'."}},
      {"unsupported body type",
       {.url = "/probe/x", .contentType = "text/plain", .body = "{}"},
       {true, "Unsupported body content type"}},
      {"two MessagePack values",
       {.url = "/probe/x", .contentType = "application/x-msgpack", .body = "\x01\x02"},
       {true, "Extra MessgePack data found in body"}},
      {"a body failure replaces an earlier failure",
       {.url = "/probe/x?nope=1", .contentType = "text/plain", .body = "{}"},
       {true, "Unsupported body content type"}},
  };
  for (const PlacementCase& test : cases) {
    SCOPED_TRACE(test.label);
    ExpectAnswer(probe_, test.request, test.expected);
  }
}

// Routes match the part before "?"; the query only brings arguments.
TEST_F(RequestDispatch, RoutesMatchThePathAndTheQueryBringsArguments) {
  struct RouteCase {
    const char* label;
    const BindingFunctionInfo* function;
    const char* url;
    Answer expected;
  };
  const BindingFunctionInfo* probe = probe_;
  const BindingFunctionInfo* status = status_;
  const RouteCase cases[] = {
      {"literal route", status, "/status", {false, R"({"verbose":false})"}},
      {"literal route with a query", status, "/status?verbose", {false, R"({"verbose":true})"}},
      {"last placeholder stops at the query",
       probe,
       "/probe/x?flag",
       {false, R"({"flag":true,"id":"x"})"}},
      {"path mismatch before a query", probe, "/probe/x/y?flag", {true, "Invalid function", 404}},
      {"literal mismatch before a query",
       status,
       "/statusx?verbose",
       {true, "Invalid function", 404}},
      {"empty query", probe, "/probe/x?", {false, R"({"flag":false,"id":"x"})"}},
      {"empty pieces are skipped", probe, "/probe/x?&flag&&", {false, R"({"flag":true,"id":"x"})"}},
      // A cache-buster changes nothing, unless the function names a parameter "_".
      {"cache-buster on a placeholder route",
       probe,
       "/probe/x?_=1",
       {false, R"({"flag":false,"id":"x"})"}},
      {"cache-buster among arguments",
       probe,
       "/probe/x?flag&_=1711",
       {false, R"({"flag":true,"id":"x"})"}},
      {"cache-buster on a literal route",
       status,
       "/status?_=1&verbose",
       {false, R"({"_":"1","verbose":true})"}},
      {"only the exact name is a cache-buster",
       probe,
       "/probe/x?_.a=1",
       {true, "Unknown argument '_' for 'Probe'."}},
      {"other unknown names still fail",
       probe,
       "/probe/x?__=1",
       {true, "Unknown argument '__' for 'Probe'."}},
  };
  for (const RouteCase& test : cases) {
    SCOPED_TRACE(test.label);
    ExpectAnswer(test.function, {.url = test.url}, test.expected);
  }
}

// Stored strings end at their first NUL, and the MessagePack reader keeps a
// container that the input cuts short: either would reach the handler as
// another value.
TEST_F(RequestDispatch, RefusesValuesThatWouldReachTheHandlerAsOthers) {
  const auto json = [](std::string body) {
    return TestRequest{.url = "/probe/x", .contentType = "application/json", .body = body};
  };
  const auto msgpack = [](std::string body) {
    return TestRequest{
        .url = "/probe/x", .contentType = "application/x-msgpack", .body = std::move(body)};
  };
  const auto yaml = [](std::string body) {
    return TestRequest{
        .url = "/probe/x", .contentType = "application/x-yaml", .body = std::move(body)};
  };
  const PlacementCase refused[] = {
      {"NUL in a path value",
       {.url = "/probe/po-skin-1%00-not-this-one"},
       {true, "Argument 'id' for 'Probe' contains a NUL character.", 400}},
      {"NUL in a query value",
       {.url = "/probe/x?count=1%002"},
       {true, "Argument 'count' for 'Probe' contains a NUL character.", 400}},
      {"NUL in a query name",
       {.url = "/probe/x?co%00unt=1"},
       {true, "Argument 'co%00unt' for 'Probe' contains a NUL character.", 400}},
      {"NUL escape in a JSON body value",
       json(R"({"k":["a\u0000b"]})"),
       {true, "Argument 'payload' for 'Probe' contains a NUL character.", 400}},
      {"NUL escape in a JSON body member name",
       json(R"({"a\u0000":1})"),
       {true, "Argument 'payload' for 'Probe' contains a NUL character.", 400}},
      {"NUL escape in a JSON query value",
       {.url = R"(/probe/x?filter={"k":"\u0000"})"},
       {true, "Argument 'filter' for 'Probe' contains a NUL character.", 400}},
      {"NUL escapes in YAML body scalars",
       yaml("k: [\"a\\0b\"]\n"),
       {true, "Argument 'payload' for 'Probe' contains a NUL character.", 400}},
      {"NUL escape in a YAML body key",
       yaml("\"a\\x00\": 1\n"),
       {true, "Argument 'payload' for 'Probe' contains a NUL character.", 400}},
      {"NUL escape in a YAML query value",
       {.url = "/probe/x?filter=---%0Ak:%20%22%5Cu0000%22"},
       {true, "Argument 'filter' for 'Probe' contains a NUL character.", 400}},
      {"NUL byte in a MessagePack body string",
       msgpack(std::string("\x81\xa1k\xa2x\x00", 6)),
       {true, "Argument 'payload' for 'Probe' contains a NUL character.", 400}},
      {"MessagePack body that ends inside an array",
       msgpack("\x93\x01\x02"),
       {true, "Argument 'payload' for 'Probe' ends inside a MessagePack array or map.", 400}},
      {"MessagePack body that ends inside a nested map",
       msgpack("\x92\x01\x81\xa1k"),
       {true, "Argument 'payload' for 'Probe' ends inside a MessagePack array or map.", 400}},
      {"MessagePack query value that ends inside an array",
       {.url = "/probe/x?filter=%92%01"},
       {true, "Argument 'filter' for 'Probe' ends inside a MessagePack array or map.", 400}},
      {"a body failure replaces a refusal, status included",
       {.url = "/probe/a%00b", .contentType = "text/plain", .body = "{}"},
       {true, "Unsupported body content type", 0}},
  };
  for (const PlacementCase& test : refused) {
    SCOPED_TRACE(test.label);
    ExpectAnswer(probe_, test.request, test.expected);
  }
  EXPECT_EQ(static_cast<ArgumentEchoInvoker&>(*probe_->invoker).calls, 0);

  const PlacementCase accepted[] = {
      {"escaped backslash before u0000",
       json(R"({"k":"\\u0000"})"),
       {false, R"({"flag":false,"id":"x","payload":{"k":"\\u0000"}})"}},
      {"complete MessagePack with a NUL in raw bytes",
       msgpack(std::string("\x92\x01\xc4\x01\x00", 5)),
       {false, R"({"flag":false,"id":"x","payload":[1,blob:00]})"}},
      {"a backslash and a zero in YAML text that escapes nothing",
       yaml("k: 'a\\0b'\nl: c\\0\n"),
       {false, R"({"flag":false,"id":"x","payload":{"k":"a\\0b","l":"c\\0"}})"}},
      {"percent-encoded text that is no NUL",
       {.url = "/probe/x%2500"},
       {false, R"({"flag":false,"id":"x%00"})"}},
  };
  for (const PlacementCase& test : accepted) {
    SCOPED_TRACE(test.label);
    ExpectAnswer(probe_, test.request, test.expected);
  }
}

TEST_F(RequestDispatch, FailuresBeforeTheHandlerNeverCallIt) {
  auto& probe = static_cast<ArgumentEchoInvoker&>(*probe_->invoker);
  EXPECT_TRUE(Send(probe_, {.url = "/probe/x?nope=1"}).failed);
  EXPECT_TRUE(Send(probe_, {.method = 7, .url = "/probe/x"}).failed);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_FALSE(Send(probe_, {.url = "/probe/x"}).failed);
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(RequestDispatch, PlaceholderThatNamesNoParameterFailsEveryMatch) {
  const Answer answer = Send(stray_, {.method = 1, .url = "/stray/1"});
  EXPECT_EQ(answer.text, "Unknown argument 'other' for 'Stray'.");
  // A function declared without a method takes every method; without a body
  // parameter a body is ignored.
  EXPECT_EQ(Send(stray_, {.method = 6, .url = "/stray/1", .contentType = "x", .body = "{"}).text,
            "Unknown argument 'other' for 'Stray'.");
}

TEST_F(RequestDispatch, MissingContextOrRecordsAreAnsweredSafely) {
  IncomingRequestRecord request{};
  ResponseRecord response{};
  DispatchRequestEntry(&response, &request);
  const uint32_t status = response.httpStatus;  // packed: copied before comparing
  EXPECT_NE(response.failed, 0);
  EXPECT_STREQ(response.errorText, "Invalid function");
  EXPECT_EQ(status, 404u);
  response.release(&response);
  DispatchRequestEntry(nullptr, &request);
  DispatchRequestEntry(&response, nullptr);
}

}  // namespace
}  // namespace Tesk
