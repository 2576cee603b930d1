// Parts of the plug-in session in process: the events of resource changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/json_support.h"
#include "session/resource_store.h"

namespace Tesk::DevHost {
namespace {

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
