#include "rest/route_declaration.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/sdk_allocator.h"
#include "rest/request_dispatch.h"
#include "rest/response_record.h"
#include "testing/host_value_text.h"

namespace Tesk {
namespace {

struct RouteTestIds {
  std::vector<std::string> ids;
};

struct RouteTestItem {
  std::string name;
  int32_t price = 0;
};

// The record a host reads back, copied out before release.
struct Reply {
  bool failed = false;
  std::string text;
  uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
};

class RouteDeclarationTest : public ::testing::Test {
 protected:
  RouteDeclarationTest() {
    auto ids = registry_.BeginType<RouteTestIds>("RouteTestIds");
    ids.Field("ids", &RouteTestIds::ids);
    auto item = registry_.BeginType<RouteTestItem>("RouteTestItem");
    item.Field("name", &RouteTestItem::name);
    item.Field("price", &RouteTestItem::price);
  }

  Reply Call(const char* functionName, uint32_t method, const char* url,
             const char* body = nullptr) {
    DispatchContext context{&registry_, registry_.FindFunction(functionName), std::nullopt};
    IncomingRequestRecord request{};
    request.method = method;
    request.url = url;
    request.dispatchContext = &context;
    request.contentType = "application/json";
    request.body = body;
    request.bodyLength = body != nullptr ? static_cast<uint32_t>(std::strlen(body)) : 0;
    ResponseRecord response{};
    DispatchRequestEntry(&response, &request);
    Reply reply;
    reply.failed = response.failed != 0;
    reply.status = response.httpStatus;
    reply.text = reply.failed ? response.errorText : Testing::HostValueText(response.result);
    for (uint32_t i = 0; i < response.headerCount; ++i) {
      reply.headers.emplace_back(response.headers[i].name, response.headers[i].value);
    }
    response.release(&response);
    return reply;
  }

  BindingRegistry registry_;
};

TEST_F(RouteDeclarationTest, DeclaresNamedFunctionsWithTheirRoutes) {
  const std::vector<std::string> tags = {"Plugins", ""};
  DeclareRoute(registry_, HttpMethod::Post, "/shop/v1/items/{id}/reveal/",
               [](const std::string& id) { return id; })
      .PathArgument<std::string>("id")
      .AddTags(tags);
  const BindingFunctionInfo* reveal = registry_.FindFunction("PostShopV1ItemsByIdReveal");
  ASSERT_NE(reveal, nullptr);
  EXPECT_EQ(reveal->route.urlTemplate, "/shop/v1/items/{id}/reveal");
  EXPECT_EQ(reveal->route.method, 6u);
  ASSERT_EQ(reveal->arguments.size(), 1u);
  EXPECT_EQ(reveal->arguments[0].type.type, BindingValueType::String);
  EXPECT_EQ(reveal->route.locations,
            std::vector<BindingArgumentLocation>{BindingArgumentLocation::Path});
  EXPECT_EQ(reveal->returns.type, BindingValueType::String);
  EXPECT_EQ(reveal->tags, std::vector<std::string>{"Plugins"});

  // A second declaration of the same name changes nothing.
  DeclareRoute(registry_, HttpMethod::Post, "/shop/v1/items/{id}/reveal", [](const RouteTestIds&) {
    return true;
  }).BodyArgument<RouteTestIds>("other");
  EXPECT_EQ(registry_.FindFunction("PostShopV1ItemsByIdReveal"), reveal);
  EXPECT_EQ(reveal->arguments.size(), 1u);

  DeclareRoute(registry_, HttpMethod::Get, "/shop/v1/items", [] {
    return std::vector<RouteTestItem>{{"a", 1}};
  });
  const BindingFunctionInfo* list = registry_.FindFunction("GetShopV1Items");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->returns.type, BindingValueType::Vector);
  EXPECT_EQ(list->returns.elementType, BindingValueType::Struct);
  EXPECT_EQ(list->returns.typeRecord, registry_.FindTypeByName("RouteTestItem"));
}

TEST_F(RouteDeclarationTest, HandlersOfEveryShapeAnswerThroughTheDispatcher) {
  DeclareRoute(registry_, HttpMethod::Get, "/status", [] { return true; });
  DeclareRoute(registry_, HttpMethod::Get, "/items", [] {
    return std::vector<RouteTestItem>{{"a", 1}, {"b", 2}};
  });
  DeclareRoute(registry_, HttpMethod::Post, "/items/{id}", [](const std::string& id) {
    return RouteTestItem{id, 7};
  }).PathArgument<std::string>("id");
  DeclareRoute(registry_, HttpMethod::Post, "/items", [](const RouteTestIds& ids) {
    return HandlerResponse<uint32_t>::Ok(static_cast<uint32_t>(ids.ids.size()));
  }).BodyArgument<RouteTestIds>("ids");
  DeclareRoute(registry_, HttpMethod::Delete, "/items/{id}", [](const std::string& id) {
    auto response = HandlerResponse<bool>::Error(409, "Item " + id + " is in use");
    response.status.responseFormat = 7;  // not a format: reaches the host as 0
    response.headers["retry-after"] = "5";
    return response;
  }).PathArgument<std::string>("id");

  struct Case {
    const char* function;
    uint32_t method;
    const char* url;
    const char* body;
    Reply expected;
  };
  const Case cases[] = {
      {"GetStatus", 2, "/status", nullptr, {false, "true", 0, {}}},
      {"GetItems",
       2,
       "/items",
       nullptr,
       {false, R"([{"name":"a","price":1},{"name":"b","price":2}])", 0, {}}},
      {"PostItemsById", 6, "/items/x%2Fy", nullptr, {false, R"({"name":"x/y","price":7})", 0, {}}},
      {"PostItems", 6, "/items", R"({"ids":["1","2"]})", {false, "2", 0, {}}},
      {"PostItems", 6, "/items", nullptr, {true, "A value for 'ids' is required.", 0, {}}},
      {"PostItems",
       6,
       "/items",
       R"({"ids":"1"})",
       {true,
        "Couldn't assign value to 'ids' of type vector because the input not a collection.",
        0,
        {}}},
      {"DeleteItemsById",
       1,
       "/items/9",
       nullptr,
       {true, "Item 9 is in use", 409, {{"retry-after", "5"}}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.function) + " " + test.url);
    const Reply reply = Call(test.function, test.method, test.url, test.body);
    EXPECT_EQ(reply.failed, test.expected.failed);
    EXPECT_EQ(reply.text, test.expected.text);
    EXPECT_EQ(reply.status, test.expected.status);
    EXPECT_EQ(reply.headers, test.expected.headers);
  }
}

// The path or body parameter a route declares is the one its handler takes:
// any other type does not compile, nor does one for a handler that takes none.
template <class Declaration, class T>
concept DeclaresPath = requires(Declaration declaration) {
  declaration.template PathArgument<T>("id");
};
template <class Declaration, class T>
concept DeclaresBody = requires(Declaration declaration) {
  declaration.template BodyArgument<T>("body");
};
template <class Handler>
using DeclarationOf = decltype(DeclareRoute(std::declval<BindingRegistry&>(), HttpMethod::Post,
                                            "/x", std::declval<Handler>()));
using TakesText = DeclarationOf<std::string (*)(const std::string&)>;
using TakesIds = DeclarationOf<bool (*)(RouteTestIds)>;
using TakesNothing = DeclarationOf<bool (*)()>;
static_assert(DeclaresPath<TakesText, std::string>);
static_assert(!DeclaresPath<TakesText, int32_t>);
static_assert(DeclaresBody<TakesIds, RouteTestIds>);
static_assert(!DeclaresBody<TakesIds, RouteTestItem>);
static_assert(!DeclaresBody<TakesNothing, RouteTestIds>);
// Further steps keep the tie.
static_assert(!DeclaresBody<decltype(std::declval<TakesIds&>().AddTags({})), RouteTestItem>);

TEST_F(RouteDeclarationTest, StringArgumentRefusesANumber) {
  DeclareRoute(registry_, HttpMethod::Post, "/echo", [](const std::string& text) {
    return text;
  }).BodyArgument<std::string>("text");
  EXPECT_EQ(Call("PostEcho", 6, "/echo", "5").text,
            "Couldn't assign value to 'text' because the input is not a string.");
}

TEST_F(RouteDeclarationTest, ThrowingHandlerIsAnsweredAndLeaksNothing) {
  DeclareRoute(registry_, HttpMethod::Post, "/boom", [](const RouteTestIds&) -> bool {
    throw std::runtime_error("handler broke");
  }).BodyArgument<RouteTestIds>("ids");
  (void)Call("PostBoom", 6, "/boom", R"({"ids":["1"]})");  // warms lazily made statics
  const Memory::AllocationCounters before = Memory::ReadAllocationCounters();
  const Reply reply = Call("PostBoom", 6, "/boom", R"({"ids":["1"]})");
  const Memory::AllocationCounters after = Memory::ReadAllocationCounters();
  EXPECT_TRUE(reply.failed);
  EXPECT_EQ(reply.text, "The request failed: handler broke");
  EXPECT_EQ(reply.status, 500u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, after.bytesFreed - before.bytesFreed);
}

}  // namespace
}  // namespace Tesk
