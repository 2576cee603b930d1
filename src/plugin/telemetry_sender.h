// TelemetrySender: posts named telemetry events with text parameters to the
// host ("/telemetry/v1/events/<name>", an API request without result).
#pragma once

#include <future>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "rest/host_request_target.h"
#include "rest/request_failure.h"

namespace Tesk {

class TelemetrySender {
 public:
  virtual ~TelemetrySender() = default;
  // The request runs before this returns; the future is ready at once with
  // no failure, or with the request's failure.
  virtual std::future<std::optional<RequestFailure>> SendEvent(
      std::string_view eventName, const std::map<std::string, std::string>& parameters) = 0;
};

// Sends through the host operations of a plug-in object.
class HostTelemetrySender final : public TelemetrySender {
 public:
  explicit HostTelemetrySender(HostRequestTarget target) : target_(std::move(target)) {}
  std::future<std::optional<RequestFailure>> SendEvent(
      std::string_view eventName, const std::map<std::string, std::string>& parameters) override;

 private:
  HostRequestTarget target_;
};

}  // namespace Tesk
