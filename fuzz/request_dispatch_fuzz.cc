// A request's query, headers and body, as a host would deliver them, must
// never crash the dispatcher, and every answer is either a value or an error
// text. Input: the URL's query on the first line, then header lines
// "name:value" up to an empty line, then the body; the first byte of the input
// picks the body's content type.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch_harness.h"
#include "rest/route_declaration.h"

namespace {

using namespace Tesk;

struct FuzzFilter {
  std::vector<std::string> tags;
  int32_t count = 0;
  bool enabled = false;
  std::vector<BindingProperty> extra;
};

BindingFunctionInfo* DeclareFilterRoute(BindingRegistry& registry) {
  auto filter = registry.BeginType<FuzzFilter>("FuzzFilter");
  filter.Field("tags", &FuzzFilter::tags);
  filter.Field("count", &FuzzFilter::count);
  filter.Field("enabled", &FuzzFilter::enabled);
  filter.Field("extra", &FuzzFilter::extra);
  return DeclareRoute(registry, HttpMethod::Post, "/fuzz/{id}",
                      [](const FuzzFilter& value) { return value; })
      .BodyArgument<FuzzFilter>("filter")
      .Argument<std::string>("id", BindingArgumentLocation::Path)
      .Argument<bool>("flag")
      .Argument<std::vector<std::string>>("list", BindingArgumentLocation::Query)
      .Argument<BindingProperty>("object")
      .Argument<int32_t>("apikey", BindingArgumentLocation::Header)
      .Function();
}

const char* const kContentTypes[] = {"application/json", "application/x-msgpack",
                                     "application/x-yaml", "application/vnd.api+json",
                                     "text/plain"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KtxFuzz::PublishedFunction fixture(&DeclareFilterRoute);
  if (size == 0) return 0;
  const char* contentType = kContentTypes[data[0] % 5];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  const size_t lineEnd = input.find('\n');
  const std::string url = "/fuzz/x?" + std::string(input.substr(0, lineEnd));
  input = lineEnd == std::string_view::npos ? std::string_view{} : input.substr(lineEnd + 1);
  std::vector<std::string> headerTexts;
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
    if (line.empty()) break;
    headerTexts.emplace_back(line);
  }
  std::vector<std::string> names;
  std::vector<std::string> values;
  for (const std::string& text : headerTexts) {
    const size_t colon = text.find(':');
    names.push_back(text.substr(0, colon));
    values.push_back(colon == std::string::npos ? "" : text.substr(colon + 1));
  }
  std::vector<HostHeader> headers;
  for (size_t i = 0; i < names.size(); ++i)
    headers.push_back({names[i].c_str(), values[i].c_str()});
  KtxFuzz::Dispatch("request_dispatch_fuzz", fixture.context, 6, url, headers, contentType, input);
  return 0;
}
