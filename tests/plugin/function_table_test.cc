// The function table a plug-in publishes at load, read and called as a host
// does: through the load record, the linked records and their callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/plugin_loader.h"
#include "rest/route_declaration.h"
#include "testing/test_host.h"

namespace Tesk {
namespace {

using Testing::FunctionReply;
using Testing::FunctionRequest;
using Testing::TestHost;
using Testing::TestValue;

struct TableTestItem {
  std::string id;
  std::string note;
  int32_t amount = 0;
};

struct TableTestBasket {
  std::vector<TableTestItem> items;
};

class RoutesPlugin : public PluginBase {
 public:
  void RegisterApi() override {
    BindingRegistry& registry = Registry();
    auto item = registry.BeginType<TableTestItem>("TableTestItem");
    item.AddTags(Tags());
    item.Field("id", &TableTestItem::id);
    item.Field("note", &TableTestItem::note);
    item.Field("amount", &TableTestItem::amount);
    auto basket = registry.BeginType<TableTestBasket>("TableTestBasket");
    basket.Field("items", &TableTestBasket::items);

    DeclareRoute(registry, HttpMethod::Get, "/shop/v1/status", [] { return true; });
    DeclareRoute(registry, HttpMethod::Post, "/shop/v1/items/{id}/reveal",
                 [](const std::string& id) {
                   return TableTestItem{id, "revealed", 1};
                 })
        .PathArgument<std::string>("id")
        .AddTags(Tags());
    DeclareRoute(registry, HttpMethod::Post, "/shop/v1/basket", [](const TableTestBasket& basket) {
      if (basket.items.empty()) {
        return HandlerResponse<TableTestBasket>::Error(400, "Basket is empty");
      }
      auto response = HandlerResponse<TableTestBasket>::Ok(basket);
      response.status.httpStatus = 201;
      response.headers["location"] = "/shop/v1/basket/1";
      return response;
    }).BodyArgument<TableTestBasket>("basket");
    // Registered without a route: described, not published.
    (void)registry.RegisterFunction("Unrouted", {});
  }
};

void KTX_HOST_CALL LoadRoutesPlugin(PluginLoadInfo* info) {
  LoadPlugin<RoutesPlugin>(info, "shop-routes");
}

template <class T>
T ReadAt(const void* record, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char*>(record) + offset, sizeof value);
  return value;
}

class FunctionTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.LoadWith(&LoadRoutesPlugin));
    ASSERT_TRUE(host_.Initialize());
  }
  void TearDown() override { host_.Shutdown(); }

  TestHost host_{TestHost::NoLibrary{}};
};

TEST_F(FunctionTableTest, PublishesRoutedFunctionsAtTheirOffsets) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the host's layout is the 32-bit one";
  const FunctionTable* table = host_.LoadRecord().functionTable;
  ASSERT_NE(table, nullptr);
  const void* header = table;
  ASSERT_EQ(ReadAt<uint32_t>(header, 4), 3u);  // three routed functions, not "Unrouted"
  EXPECT_NE(ReadAt<uint32_t>(header, 8), 0u);  // the description's types
  EXPECT_GT(ReadAt<uint32_t>(header, 12), 15u);
  EXPECT_NE(ReadAt<uint32_t>(header, 16), 0u);  // its events: "OnCallback" at least

  struct Expected {
    const char* name;
    const char* urlTemplate;
    uint32_t method;
    std::vector<uint32_t> locations;
  };
  const Expected expected[] = {
      {"GetShopV1Status", "/shop/v1/status", 2, {}},
      {"PostShopV1Basket", "/shop/v1/basket", 6, {5}},
      {"PostShopV1ItemsByIdReveal", "/shop/v1/items/{id}/reveal", 6, {2}},
  };
  const char* record = ReadAt<const char*>(header, 0);
  for (const Expected& function : expected) {
    SCOPED_TRACE(function.name);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(ReadAt<const char*>(record, 12), function.name);
    EXPECT_NE(ReadAt<void*>(record, 8), nullptr);   // dispatch context
    EXPECT_NE(ReadAt<void*>(record, 61), nullptr);  // request callback
    EXPECT_EQ(ReadAt<uint32_t>(record, 24), function.locations.size());
    const char* location = ReadAt<const char*>(record, 65);
    for (uint32_t code : function.locations) {
      ASSERT_NE(location, nullptr);
      EXPECT_EQ(ReadAt<uint32_t>(location, 4), code);
      location = ReadAt<const char*>(location, 0);
    }
    EXPECT_EQ(location, nullptr);
    EXPECT_STREQ(ReadAt<const char*>(record, 69), function.urlTemplate);
    EXPECT_EQ(ReadAt<uint32_t>(record, 73), function.method);
    EXPECT_EQ(ReadAt<uint8_t>(record, 77), 0u);
    EXPECT_EQ(ReadAt<void*>(record, 78), nullptr);
    EXPECT_EQ(ReadAt<uint32_t>(record, 82), 0u);
    EXPECT_STREQ(ReadAt<const char*>(record, 86), "");
    const char* next = ReadAt<const char*>(record, 0);
    if (next != nullptr) {
      EXPECT_EQ(next, record + 90);  // one contiguous array
    }
    record = next;
  }
  EXPECT_EQ(record, nullptr);

  // The reveal route's description part: its argument, return type and tags.
  const char* reveal = static_cast<const char*>(
      static_cast<const void*>(host_.FindPublishedFunction("PostShopV1ItemsByIdReveal")));
  const char* argument = ReadAt<const char*>(reveal, 20);
  ASSERT_NE(argument, nullptr);
  EXPECT_STREQ(ReadAt<const char*>(argument, 4), "id");
  EXPECT_EQ(ReadAt<uint32_t>(argument, 12), 12u);  // string
  EXPECT_EQ(ReadAt<uint32_t>(reveal, 28), 17u);    // returns a struct ...
  EXPECT_STREQ(ReadAt<const char*>(reveal, 36), "TableTestItem");
  EXPECT_EQ(ReadAt<uint32_t>(reveal, 57), 2u);  // "Plugins", "Plugin shop-routes"
  const char* const* tags = ReadAt<const char* const*>(reveal, 53);
  EXPECT_STREQ(tags[1], "Plugin shop-routes");
}

TEST_F(FunctionTableTest, RequestsReachTheirHandlersAndAnswerInTheResponseRecord) {
  struct Case {
    const char* function;
    FunctionRequest request;
    FunctionReply expected;
  };
  const Case cases[] = {
      {"GetShopV1Status", {.method = 2, .url = "/shop/v1/status"}, {.value = "true"}},
      {"PostShopV1ItemsByIdReveal",
       {.method = 6, .url = "/shop/v1/items/a%2Bb/reveal"},
       {.value = R"({"amount":1,"id":"a+b","note":"revealed"})"}},
      {"PostShopV1ItemsByIdReveal",
       {.method = 6, .url = "/shop/v1/items/x/reveal", .arguments = {{"", TestValue::Signed(5)}}},
       {.failed = true,
        .error = "Unknown argument '1' for 'PostShopV1ItemsByIdReveal'.",
        .value = "null"}},
      {"PostShopV1Basket",
       {.method = 6, .url = "/shop/v1/basket", .body = R"({"items":[{"id":"1","amount":2}]})"},
       {.value = R"({"items":[{"amount":2,"id":"1","note":""}]})",
        .status = 201,
        .headers = {{"location", "/shop/v1/basket/1"}}}},
      {"PostShopV1Basket",
       {.method = 6, .url = "/shop/v1/basket", .body = R"({"items":[]})"},
       {.failed = true, .error = "Basket is empty", .value = "null", .status = 400}},
      {"PostShopV1Basket",
       {.method = 6,
        .url = "/shop/v1/basket",
        .contentType = "application/x-msgpack",
        .body = std::string("\x81\xa5items\x90", 8)},
       {.failed = true, .error = "Basket is empty", .value = "null", .status = 400}},
      {"PostShopV1Basket",
       {.method = 6, .url = "/shop/v1/basket", .body = R"({"items":[{"amount":"x"}]})"},
       {.failed = true,
        .error = "Value x for 'amount' of type int32 is in an incorrect format",
        .value = "null"}},
      {"PostShopV1Basket",
       {.method = 2, .url = "/shop/v1/basket"},
       {.failed = true, .error = "Invalid function", .value = "null", .status = 404}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.function) + " " + test.request.url);
    const FunctionReply reply = host_.CallFunction(test.function, test.request);
    EXPECT_EQ(reply.failed, test.expected.failed);
    EXPECT_EQ(reply.error, test.expected.error);
    EXPECT_EQ(reply.value, test.expected.value);
    EXPECT_EQ(reply.status, test.expected.status);
    EXPECT_EQ(reply.headers, test.expected.headers);
    EXPECT_TRUE(reply.releaseSet);
  }
}

}  // namespace
}  // namespace Tesk
