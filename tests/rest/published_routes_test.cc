// How a host finds a plug-in's published function for a request.
#include "rest/published_routes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Tesk {
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

}  // namespace
}  // namespace Tesk
