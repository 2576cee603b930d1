// TelemetryLog: the latest telemetry events the plug-in posted to the host,
// kept for the operator. Safe from any thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>

#include "encoding/json_support.h"

namespace Tesk::DevHost {

class TelemetryLog {
 public:
  static constexpr size_t kKept = 100;

  void Record(const std::string& name, const std::string& parametersJson) {
    std::lock_guard<std::mutex> guard(mutex_);
    entries_.push_back("{\"event\":" + JsonQuote(name) + ",\"parameters\":" + parametersJson + "}");
    while (entries_.size() > kKept) entries_.pop_front();
  }

  // A JSON array, oldest first.
  [[nodiscard]] std::string Json() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string list = "[";
    for (const std::string& entry : entries_) {
      if (list.size() > 1) list += ',';
      list += entry;
    }
    return list + "]";
  }

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> entries_;
};

}  // namespace Tesk::DevHost
