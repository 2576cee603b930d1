#include "session/resource_store.h"

#include <utility>

#include "encoding/json_support.h"

namespace Tesk::DevHost {
namespace {

constexpr std::string_view kNamespacesPrefix = "/tav-platform-config/v1/namespaces/";

// Parses text the store wrote itself.
rapidjson::Document ParseHeld(const std::string& text) {
  rapidjson::Document document;
  std::string error;
  (void)ParseJson(text, document, error);
  return document;
}

}  // namespace

const char* ResourceChangeName(ResourceChange change) {
  switch (change) {
    case ResourceChange::Create:
      return "Create";
    case ResourceChange::Update:
      return "Update";
    case ResourceChange::Delete:
      return "Delete";
  }
  return "";
}

std::string ResourceEvent::PayloadJson() const {
  std::string json = "{\"uri\":" + JsonQuote(uri) +
                     ",\"eventType\":" + JsonQuote(ResourceChangeName(change)) + ",\"data\":";
  json += data.empty() ? "null" : data;
  return json + "}";
}

ResourceStore::ResourceStore(Listener listener) : listener_(std::move(listener)) {}

std::string ResourceStore::NormalizeUri(std::string_view uri) {
  std::string normalized = "/";
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '/' && (normalized.back() == '/')) continue;
    normalized += uri[i];
  }
  if (normalized.size() > 1 && normalized.back() == '/') normalized.pop_back();
  return normalized;
}

bool ResourceStore::IsNamespace(const std::string& uri) {
  return uri.size() > kNamespacesPrefix.size() && uri.starts_with(kNamespacesPrefix) &&
         uri.find('/', kNamespacesPrefix.size()) == std::string::npos;
}

std::optional<ResourceStore::NamespaceKey> ResourceStore::SplitNamespaceKey(
    const std::string& uri) {
  if (!uri.starts_with(kNamespacesPrefix)) return std::nullopt;
  const size_t slash = uri.find('/', kNamespacesPrefix.size());
  if (slash == std::string::npos || slash == kNamespacesPrefix.size()) return std::nullopt;
  const std::string key = uri.substr(slash + 1);
  if (key.empty() || key.find('/') != std::string::npos) return std::nullopt;
  return NamespaceKey{uri.substr(0, slash), key};
}

std::optional<std::string> ResourceStore::Get(std::string_view uriText) const {
  const std::string uri = NormalizeUri(uriText);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const auto key = SplitNamespaceKey(uri)) {
    const auto held = resources_.find(key->namespaceUri);
    if (held == resources_.end()) return std::nullopt;
    const rapidjson::Document document = ParseHeld(held->second);
    const auto member = document.FindMember(key->key.c_str());
    if (member == document.MemberEnd()) return std::nullopt;
    return WriteJson(member->value);
  }
  const auto held = resources_.find(uri);
  if (held == resources_.end()) return std::nullopt;
  return held->second;
}

void ResourceStore::CompareKeys(const std::string& namespaceUri, const rapidjson::Value* before,
                                const rapidjson::Value* after, std::vector<ResourceEvent>& events) {
  if (after != nullptr) {
    for (const auto& member : after->GetObject()) {
      const std::string uri = namespaceUri + "/" + member.name.GetString();
      const rapidjson::Value* old = nullptr;
      if (before != nullptr) {
        const auto found = before->FindMember(member.name);
        if (found != before->MemberEnd()) old = &found->value;
      }
      if (old == nullptr) {
        events.push_back({uri, ResourceChange::Create, WriteJson(member.value)});
      } else if (*old != member.value) {
        events.push_back({uri, ResourceChange::Update, WriteJson(member.value)});
      }
    }
  }
  if (before != nullptr) {
    for (const auto& member : before->GetObject()) {
      if (after == nullptr || !after->HasMember(member.name)) {
        events.push_back(
            {namespaceUri + "/" + member.name.GetString(), ResourceChange::Delete, {}});
      }
    }
  }
}

bool ResourceStore::Put(std::string_view uriText, const rapidjson::Value& value,
                        std::string& error) {
  const std::string uri = NormalizeUri(uriText);
  if (uri == "/") {
    error = "A resource needs a URI";
    return false;
  }
  std::vector<ResourceEvent> events;
  std::lock_guard<std::mutex> reportGuard(reportMutex_);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const auto key = SplitNamespaceKey(uri)) {
      // A key: the namespace changes with it (and is created when missing).
      rapidjson::Document content(rapidjson::kObjectType);
      const auto held = resources_.find(key->namespaceUri);
      if (held != resources_.end()) content = ParseHeld(held->second);
      rapidjson::Value name(key->key.c_str(), content.GetAllocator());
      rapidjson::Value copy(value, content.GetAllocator());
      const auto member = content.FindMember(name);
      const ResourceChange keyChange =
          member == content.MemberEnd() ? ResourceChange::Create : ResourceChange::Update;
      if (member != content.MemberEnd()) {
        member->value = copy;
      } else {
        content.AddMember(name, copy, content.GetAllocator());
      }
      const std::string text = WriteJson(content);
      // The URI the caller named first, then the other that changed with it.
      events.push_back({uri, keyChange, WriteJson(value)});
      events.push_back({key->namespaceUri,
                        held == resources_.end() ? ResourceChange::Create : ResourceChange::Update,
                        text});
      resources_[key->namespaceUri] = text;
    } else {
      const bool isNamespace = IsNamespace(uri);
      if (isNamespace && !value.IsObject()) {
        error = "A configuration namespace is a JSON object of its keys";
        return false;
      }
      const auto held = resources_.find(uri);
      const std::string text = WriteJson(value);
      events.push_back(
          {uri, held == resources_.end() ? ResourceChange::Create : ResourceChange::Update, text});
      if (isNamespace) {
        const rapidjson::Document before =
            held != resources_.end() ? ParseHeld(held->second) : rapidjson::Document();
        CompareKeys(uri, held != resources_.end() ? &before : nullptr, &value, events);
      }
      resources_[uri] = text;
    }
  }
  Report(events);
  return true;
}

bool ResourceStore::Delete(std::string_view uriText) {
  const std::string uri = NormalizeUri(uriText);
  std::vector<ResourceEvent> events;
  std::lock_guard<std::mutex> reportGuard(reportMutex_);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const auto key = SplitNamespaceKey(uri)) {
      const auto held = resources_.find(key->namespaceUri);
      if (held == resources_.end()) return false;
      rapidjson::Document content = ParseHeld(held->second);
      if (!content.RemoveMember(key->key.c_str())) return false;
      held->second = WriteJson(content);
      events.push_back({uri, ResourceChange::Delete, {}});
      events.push_back({key->namespaceUri, ResourceChange::Update, held->second});
    } else {
      const auto held = resources_.find(uri);
      if (held == resources_.end()) return false;
      events.push_back({uri, ResourceChange::Delete, {}});
      if (IsNamespace(uri)) {
        const rapidjson::Document before = ParseHeld(held->second);
        CompareKeys(uri, &before, nullptr, events);
      }
      resources_.erase(held);
    }
  }
  Report(events);
  return true;
}

std::vector<std::string> ResourceStore::List() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> uris;
  for (const auto& [uri, text] : resources_) uris.push_back(uri);
  return uris;
}

void ResourceStore::Report(const std::vector<ResourceEvent>& events) {
  if (!listener_) return;
  for (const ResourceEvent& event : events) listener_(event);
}

}  // namespace Tesk::DevHost
