// ResourceStore: the host resources the plug-in reads (the login session, the
// region and locale, configuration namespaces), held as JSON and changed by
// the operator. Every change is reported as resource events: the URI, the
// kind of change and the new content.
//
// Configuration namespaces ("/tav-platform-config/v1/namespaces/<name>") are
// JSON objects whose members are the namespace's keys; a key has a URI of its
// own one level deeper. Changing a key changes its namespace and the other way
// round, and each change reports an event for both URIs that changed.
//
// Threads: every function may be called from any thread; changes are
// reported on the calling thread, after the store's lock is released, in the
// order the changes were made.
#pragma once

#include <rapidjson/document.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Tesk::DevHost {

enum class ResourceChange { Create = 0, Update = 1, Delete = 2 };

[[nodiscard]] const char* ResourceChangeName(ResourceChange change);

struct ResourceEvent {
  std::string uri;
  ResourceChange change = ResourceChange::Update;
  std::string data;  // JSON text of the new content; empty for Delete

  // The event's payload: {"uri":..,"eventType":"Create"|..,"data":..}.
  [[nodiscard]] std::string PayloadJson() const;
};

class ResourceStore {
 public:
  using Listener = std::function<void(const ResourceEvent&)>;

  explicit ResourceStore(Listener listener);

  // "/a/b/" and "a/b" are both "/a/b".
  [[nodiscard]] static std::string NormalizeUri(std::string_view uri);

  // The resource's JSON text, or nothing when it does not exist.
  [[nodiscard]] std::optional<std::string> Get(std::string_view uri) const;
  // Sets the resource (a namespace must be a JSON object); reports Create or
  // Update. Returns false with a message when the value is refused.
  bool Put(std::string_view uri, const rapidjson::Value& value, std::string& error);
  // Removes the resource; false when it does not exist.
  bool Delete(std::string_view uri);
  // Every URI held, namespace keys excluded, in order.
  [[nodiscard]] std::vector<std::string> List() const;

 private:
  struct NamespaceKey {
    std::string namespaceUri;
    std::string key;
  };
  [[nodiscard]] static std::optional<NamespaceKey> SplitNamespaceKey(const std::string& uri);
  [[nodiscard]] static bool IsNamespace(const std::string& uri);
  // Events for the keys of a namespace that differ between two contents.
  static void CompareKeys(const std::string& namespaceUri, const rapidjson::Value* before,
                          const rapidjson::Value* after, std::vector<ResourceEvent>& events);
  void Report(const std::vector<ResourceEvent>& events);

  Listener listener_;
  mutable std::mutex mutex_;
  std::mutex reportMutex_;                        // keeps reports in the order of the changes
  std::map<std::string, std::string> resources_;  // URI to compact JSON text
};

}  // namespace Tesk::DevHost
