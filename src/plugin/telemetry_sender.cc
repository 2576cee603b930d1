#include "plugin/telemetry_sender.h"

#include "rest/api_request.h"

namespace Tesk {

std::future<std::optional<RequestFailure>> HostTelemetrySender::SendEvent(
    std::string_view eventName, const std::map<std::string, std::string>& parameters) {
  const std::string url = "/telemetry/v1/events/" + std::string(eventName);
  std::promise<std::optional<RequestFailure>> result;
  result.set_value(SendApiRequest(target_, HttpMethod::Post, url, parameters));
  return result.get_future();
}

}  // namespace Tesk
