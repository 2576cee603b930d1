// Parts of the plug-in session in process: how a request finds its published
// function, and the events of resource changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/json_support.h"
#include "session/function_routes.h"
#include "session/resource_store.h"

namespace Tesk::DevHost {
namespace {

TEST(FunctionRoutes, FindsTheFunctionAsThePluginMatchesIt) {
  struct Route {
    const char* name;
    uint32_t method;
    const char* urlTemplate;
  };
  const Route declared[] = {
      {"GetOffers", 2, "/po/v1/offers"},
      {"PostRevealById", 6, "/po/v1/offers/{id}/reveal"},
      {"PostReveal", 6, "/po/v1/offers/reveal/x"},
      {"GetFiles", 2, "/files/{+path}"},
      {"AnyStatus", 0, "/status"},
  };
  std::vector<FunctionTableRecord> records(std::size(declared));
  for (size_t i = 0; i < records.size(); ++i) {
    records[i] = FunctionTableRecord{};
    records[i].function.name = declared[i].name;
    records[i].function.next =
        i + 1 < records.size() ? reinterpret_cast<ApiFunctionRecord*>(&records[i + 1]) : nullptr;
    records[i].requestCallback = [](ResponseRecord*, const IncomingRequestRecord*) {};
    records[i].urlTemplate = declared[i].urlTemplate;
    records[i].method = declared[i].method;
    records[i].customMethod = "";
  }
  FunctionTable table{
      records.data(), static_cast<uint32_t>(records.size()), nullptr, 0, nullptr, 0};
  const FunctionRoutes routes(&table);
  struct Case {
    const char* method;
    const char* path;
    const char* function;  // null: none
    std::vector<std::string> allowed;
  };
  const Case cases[] = {
      {"GET", "/po/v1/offers", "GetOffers", {}},
      {"GET", "/po/v1/offers/", nullptr, {}},
      {"POST", "/po/v1/offers/a%20b/reveal", "PostRevealById", {}},
      {"POST", "/po/v1/offers//reveal", "PostRevealById", {}},
      {"POST", "/po/v1/offers/a/b/reveal", nullptr, {}},
      {"GET", "/po/v1/offers/1/reveal", nullptr, {"POST"}},
      {"GET", "/files/a/b/c", "GetFiles", {}},
      {"DELETE", "/status", "AnyStatus", {}},
      {"PURGE", "/status", "AnyStatus", {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.method) + " " + test.path);
    const RouteLookup found = routes.Find(test.method, test.path);
    EXPECT_STREQ(found.function != nullptr ? found.function->function.name : nullptr,
                 test.function);
    EXPECT_EQ(found.allowedMethods, test.allowed);
  }
}

TEST(ResourceStore, NamespaceAndKeyChangeTogetherAndEachChangeIsAnEvent) {
  std::vector<std::string> events;
  ResourceStore store([&](const ResourceEvent& event) { events.push_back(event.PayloadJson()); });
  const auto put = [&](const char* uri, const char* json) {
    rapidjson::Document value;
    std::string error;
    EXPECT_TRUE(ParseJson(json, value, error));
    EXPECT_TRUE(store.Put(uri, value, error)) << error;
  };
  const std::string space = "/tav-platform-config/v1/namespaces/N";
  put("/tav-platform-config/v1/namespaces/N/", R"({"A":1,"B":true})");
  put("tav-platform-config/v1/namespaces/N/B", "false");
  put(space.c_str(), R"({"A":1,"C":"c"})");
  EXPECT_TRUE(store.Delete(space + "/A"));
  EXPECT_FALSE(store.Delete(space + "/A"));
  EXPECT_EQ(store.Get(space), R"({"C":"c"})");
  EXPECT_EQ(store.Get(space + "/C"), R"("c")");
  const std::string n = R"({"uri":"/tav-platform-config/v1/namespaces/N)";
  EXPECT_EQ(events, (std::vector<std::string>{
                        n + R"(","eventType":"Create","data":{"A":1,"B":true}})",
                        n + R"(/A","eventType":"Create","data":1})",
                        n + R"(/B","eventType":"Create","data":true})",
                        n + R"(/B","eventType":"Update","data":false})",
                        n + R"(","eventType":"Update","data":{"A":1,"B":false}})",
                        n + R"(","eventType":"Update","data":{"A":1,"C":"c"}})",
                        n + R"(/C","eventType":"Create","data":"c"})",
                        n + R"(/B","eventType":"Delete","data":null})",
                        n + R"(/A","eventType":"Delete","data":null})",
                        n + R"(","eventType":"Update","data":{"C":"c"}})",
                    }));
  rapidjson::Document notObject;
  notObject.SetInt(1);
  std::string error;
  EXPECT_FALSE(store.Put(space, notObject, error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace Tesk::DevHost
