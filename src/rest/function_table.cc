#include "rest/function_table.h"

#include <cstring>

#include "binding/binding_registry.h"
#include "rest/argument_placement.h"
#include "rest/http_method.h"

namespace Tesk {

bool HasRoute(const BindingFunctionInfo& function) {
  return !function.route.urlTemplate.empty() || function.route.method != 0;
}

HostFunctionTable::HostFunctionTable(BindingRegistry& registry, bool compileRoutesPerRequest)
    : description_(DescribeApi(registry)) {
  header_ = description_.Header();
  header_.functions = nullptr;
  header_.functionCount = 0;

  // Sizes first: records and location entries are linked by address.
  std::vector<std::pair<const ApiFunctionRecord*, BindingFunctionInfo*>> routed;
  size_t locationCount = 0;
  size_t textListCount = 0;
  for (const ApiFunctionRecord& described : description_.Functions()) {
    BindingFunctionInfo* function = registry.FindFunction(described.name);
    if (function == nullptr || !HasRoute(*function)) continue;
    routed.emplace_back(&described, function);
    locationCount += function->arguments.size();
    textListCount += function->route.textLists.size();
  }
  records_.resize(routed.size());
  locations_.resize(locationCount);
  textLists_.resize(textListCount);

  size_t nextLocation = 0;
  size_t nextTextList = 0;
  for (size_t index = 0; index < routed.size(); ++index) {
    const auto& [described, function] = routed[index];
    FunctionTableRecord& record = records_[index];
    std::memcpy(static_cast<void*>(&record.function), described, sizeof(ApiFunctionRecord));
    record.function.next = index + 1 < routed.size()
                               ? reinterpret_cast<ApiFunctionRecord*>(&records_[index + 1])
                               : nullptr;

    const size_t parameterCount = function->arguments.size();
    record.locations = parameterCount > 0 ? &locations_[nextLocation] : nullptr;
    for (size_t p = 0; p < parameterCount; ++p) {
      ApiLocationEntry& entry = locations_[nextLocation + p];
      const auto code = static_cast<uint32_t>(ParameterLocation(*function, p));
      entry.location = code >= 1 && code <= 5 ? code : 0;
      entry.next = p + 1 < parameterCount ? &entry + 1 : nullptr;
    }
    nextLocation += parameterCount;

    const BindingRoute& route = function->route;
    record.urlTemplate = route.urlTemplate.c_str();
    record.method = route.method >= 1 && route.method <= 8 ? route.method : 0;
    record.flag = route.flag;
    record.textListCount = static_cast<uint32_t>(route.textLists.size());
    record.textLists = route.textLists.empty() ? nullptr : &textLists_[nextTextList];
    for (size_t t = 0; t < route.textLists.size(); ++t) {
      std::vector<const char*>& texts = texts_.emplace_back();
      for (const std::string& text : route.textLists[t]) texts.push_back(text.c_str());
      ApiTextListEntry& entry = textLists_[nextTextList + t];
      entry.texts = texts.data();
      entry.count = static_cast<uint32_t>(texts.size());
      entry.next = t + 1 < route.textLists.size() ? &entry + 1 : nullptr;
    }
    nextTextList += route.textLists.size();
    record.customMethod = route.customMethod.c_str();

    // The dispatcher's part: the context at +8 and the request callback.
    DispatchContext& context = contexts_.emplace_back();
    context.registry = &registry;
    context.function = function;
    if (!compileRoutesPerRequest) context.route = CompileFunctionRoute(*function);
    record.function.dispatchContext = &context;
    record.requestCallback = &DispatchRequestEntry;
  }
  if (!records_.empty()) {
    header_.functions = records_.data();
    header_.functionCount = static_cast<uint32_t>(records_.size());
  }
}

}  // namespace Tesk
