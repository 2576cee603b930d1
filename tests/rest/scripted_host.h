// A HostOperations that records what the plug-in asks for (copying what the
// request records point to while the call lasts) and answers from a script.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host-abi/host_operations.h"

namespace Tesk::Testing {

// What one form 1 request carried.
struct RecordedApiRequest {
  std::vector<uint8_t> bytes;  // the whole record
  ApiRequestRecord record;     // pointers valid only during the call
  std::string url;
  // Name (absent for a null name) and the value as compact JSON.
  std::vector<std::pair<std::optional<std::string>, std::string>> arguments;
  uint32_t argumentTag = 0;  // tag of the first argument
};

// What one form 2 request carried.
struct RecordedHttpRequest {
  std::vector<uint8_t> bytes;
  HttpRequestRecord record;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> body;    // absent for a null body pointer
  bool responseIsTheCallers = false;  // record.response is the response argument
};

class ScriptedHost : public HostOperations {
 public:
  std::function<void(ResponseRecord&)> apiAnswer;
  std::function<void(HttpResponseRecord&)> httpAnswer;

  std::vector<RecordedApiRequest> apiRequests;
  std::vector<RecordedHttpRequest> httpRequests;
  // Yield and wait calls in order ("wait start Wait: yield 0", "yield", "wait
  // end"), interleaved with whatever the script appends.
  std::vector<std::string> log;

  void ApiRequest(ResponseRecord* response, const ApiRequestRecord* request) override;
  void HttpRequest(HttpResponseRecord* response, const HttpRequestRecord* request) override;
  void SendEvent(const HostEvent*) override {}
  void HostSubscribe(const char*, uint32_t, HostEventCallback, void*, uint32_t) override {}
  void HostUnsubscribe(const char*, uint32_t) override {}
  void HostSchedule(const char*, TimerCallback, void*, double, uint32_t) override {}
  void Yield() override { log.push_back("yield"); }
  void WaitStart(const char* label, uint32_t flag) override {
    log.push_back("wait start " + std::string(label) + " " + std::to_string(flag));
  }
  void WaitEnd() override { log.push_back("wait end"); }
};

// A streamed response body, handed out chunk by chunk.
struct ScriptedStream {
  struct Chunk {
    std::string bytes;
    bool moreData = false;
    bool fails = false;
    uint32_t claimedSize = 0;  // when not 0, the size reported instead of the real one
  };

  std::vector<Chunk> chunks;
  std::vector<std::string>* log = nullptr;  // "read <asked size>", "stream release"
  size_t next = 0;
  int releases = 0;

  // Sets the record's stream, its two functions and the size hint.
  void Attach(ResponseRecord& response, uint32_t sizeHint = 0);
};

// Counts the calls of the response release functions it attaches and logs
// them ("response release") to `log`. One counter at a time.
class ReleaseCounter {
 public:
  explicit ReleaseCounter(std::vector<std::string>* log = nullptr);
  ~ReleaseCounter();
  ReleaseCounter(const ReleaseCounter&) = delete;
  ReleaseCounter& operator=(const ReleaseCounter&) = delete;

  [[nodiscard]] int count() const;
  void Reset();
  void Attach(ResponseRecord& response) const;
  void Attach(HttpResponseRecord& response) const;
};

}  // namespace Tesk::Testing
