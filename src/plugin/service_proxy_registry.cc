#include "plugin/service_proxy_registry.h"

#include <mutex>
#include <utility>

#include "diagnostics/format.h"
#include "diagnostics/log_manager.h"

namespace Tesk {
namespace {

using Guard = std::lock_guard<Platform::Lock>;

}  // namespace

std::string ServiceProxyMethodKey(const PluginServiceProxyResponse& response) {
  return Format("%1.%2", response.serviceName, response.methodName);
}

void ServiceProxyRegistry::SetShortName(std::string shortName) {
  const Guard guard(lock_);
  shortName_ = std::move(shortName);
}

void ServiceProxyRegistry::AddPendingHandler(std::string_view key, Handler handler) {
  const Guard guard(lock_);
  pending_.insert_or_assign(std::string(key), std::move(handler));
}

void ServiceProxyRegistry::AddAsyncHandler(std::string_view key, Handler handler) {
  const Guard guard(lock_);
  async_.insert_or_assign(std::string(key), std::move(handler));
}

void ServiceProxyRegistry::OnUuidResponse(const PluginServiceProxyResponse& response) {
  Store(response.uuid, response);
  DeliverOne();
}

void ServiceProxyRegistry::OnMethodResponse(const PluginServiceProxyResponse& response) {
  Store(ServiceProxyMethodKey(response), response);
  DeliverOne();
}

void ServiceProxyRegistry::OnAsyncResponse(const PluginServiceProxyResponse& response) {
  const std::string key = ServiceProxyMethodKey(response);
  const Guard guard(lock_);
  const auto handler = async_.find(key);
  if (handler != async_.end()) {
    handler->second(response);
    return;
  }
  LogMessage(kLogLevelError, kLogGroupDbg,
             "%s: Could not find registered handler for async service proxy event %s",
             shortName_.c_str(), key.c_str());
}

void ServiceProxyRegistry::Store(std::string key, const PluginServiceProxyResponse& response) {
  const Guard guard(lock_);
  received_.insert_or_assign(std::move(key), response);
}

void ServiceProxyRegistry::DeliverOne() {
  const Guard guard(lock_);
  for (auto stored = received_.begin(); stored != received_.end(); ++stored) {
    const auto handler = pending_.find(stored->first);
    if (handler == pending_.end()) continue;
    const PluginServiceProxyResponse response = stored->second;
    handler->second(response);
    LogMessage(kLogLevelAlways, kLogGroupDbg, "%s: Fulfilled service proxy request: %s",
               shortName_.c_str(), stored->first.c_str());
    pending_.erase(handler);
    received_.erase(stored);
    return;
  }
}

void ServiceProxyRegistry::Clear() {
  const Guard guard(lock_);
  received_.clear();
  pending_.clear();
  async_.clear();
}

size_t ServiceProxyRegistry::StoredResponseCount() const {
  const Guard guard(lock_);
  return received_.size();
}

bool ServiceProxyRegistry::FindStoredResponse(std::string_view key,
                                              PluginServiceProxyResponse& out) const {
  const Guard guard(lock_);
  const auto stored = received_.find(key);
  if (stored == received_.end()) return false;
  out = stored->second;
  return true;
}

}  // namespace Tesk
