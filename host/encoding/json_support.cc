#include "encoding/json_support.h"

#include <rapidjson/error/en.h>

#include <utility>
#include <vector>

namespace Tesk::DevHost {
namespace {

// The deepest nesting of `root`, walked with an explicit stack; stops as soon
// as `limit` is exceeded.
unsigned NestingDepth(const rapidjson::Value& root, unsigned limit) {
  std::vector<std::pair<const rapidjson::Value*, unsigned>> pending{{&root, 1}};
  unsigned deepest = 0;
  while (!pending.empty()) {
    auto [value, depth] = pending.back();
    pending.pop_back();
    if (!value->IsObject() && !value->IsArray()) continue;
    if (depth > deepest) deepest = depth;
    if (deepest > limit) return deepest;
    if (value->IsObject()) {
      for (const auto& member : value->GetObject()) pending.emplace_back(&member.value, depth + 1);
    } else {
      for (const auto& item : value->GetArray()) pending.emplace_back(&item, depth + 1);
    }
  }
  return deepest;
}

}  // namespace

bool ParseJson(std::string_view text, rapidjson::Document& document, std::string& error) {
  document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  if (document.HasParseError()) {
    error = std::string("Invalid JSON at offset ") + std::to_string(document.GetErrorOffset()) +
            ": " + rapidjson::GetParseError_En(document.GetParseError());
    return false;
  }
  if (NestingDepth(document, kMaxJsonDepth) > kMaxJsonDepth) {
    error = "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    document.SetNull();
    return false;
  }
  return true;
}

std::string WriteJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JsonQuote(std::string_view text) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ErrorJson(std::string_view message) {
  return "{\"message\":" + JsonQuote(message) + "}";
}

std::string StringMember(const rapidjson::Value& object, const char* name,
                         std::string_view fallback) {
  if (object.IsObject()) {
    const auto member = object.FindMember(name);
    if (member != object.MemberEnd() && member->value.IsString()) {
      return std::string(member->value.GetString(), member->value.GetStringLength());
    }
  }
  return std::string(fallback);
}

}  // namespace Tesk::DevHost
