// TestHost: an in-process host for tests. It loads the built plug-in library by
// path, calls its export and entry points as the platform's host does, and
// keeps the host contract on the CoreInterface it offers: every call is
// recorded, API and HTTP requests are answered by handlers the test sets,
// events reach the plug-in's subscriptions when the test delivers them, and
// scheduled callbacks run when the test says.
//
// Threads: the CoreInterface functions may be called from any thread; the
// recordings are guarded. Deliveries and scheduled callbacks run on the
// calling test thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host-abi/plugin_records.h"
#include "support/host_value_text.h"
#include "support/loaded_library.h"

namespace Tesk::Testing {

using TextPairs = std::vector<std::pair<std::string, std::string>>;

enum class CoreFunction {
  ApiRequest,
  HttpRequest,
  SendEvent,
  Subscribe,
  Unsubscribe,
  Schedule,
  Yield,
  WaitStart,
  WaitEnd,
  Log,
};

// One call the plug-in made on the CoreInterface; `subject` is the URL, event
// name, label or log text the call carried (empty for yield and wait end).
struct CoreCall {
  CoreFunction function;
  std::string subject;
};

struct ApiCall {
  uint32_t method = 0;
  std::string url;
  TextPairs arguments;  // name (or "#<index>" when unnamed), HostValueText of the value
  uint32_t pluginHandle = 0;
};

// What an API request (form 1) answers: a value, or a failure with its text.
struct ApiAnswer {
  TestValue value;
  std::optional<std::string> error;
  uint32_t httpStatus = 0;

  static ApiAnswer Value(TestValue v) { return {std::move(v), std::nullopt, 200}; }
  static ApiAnswer Failure(std::string text, uint32_t status = 404) {
    return {TestValue(), std::move(text), status};
  }
};

struct HttpCall {
  uint32_t method = 0;
  std::string url;
  TextPairs headers;  // in the order the plug-in sent them
  std::string body;
  uint32_t timeout = 0;
  uint8_t flag = 0;
};

struct HttpAnswer {
  uint32_t resultCode = 0;
  uint32_t httpStatus = 200;
  TextPairs headers;
  std::string body;
};

struct SentEvent {
  std::string name;
  std::string payload;  // HostValueText of the payload
  uint32_t flags = 0;
};

struct Subscription {
  std::string name;
  uint32_t pluginHandle = 0;
  HostEventCallback callback = nullptr;
  void* userData = nullptr;
  uint32_t flag = 0;
};

struct ScheduledCall {
  std::string label;
  TimerCallback callback = nullptr;
  void* context = nullptr;
  double delaySeconds = 0;
  uint32_t flag = 0;
};

// A request the test host sends through the plug-in's function table.
struct FunctionRequest {
  uint32_t method = 2;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string contentType = "application/json";
  std::optional<std::string> body{};
  // Host-supplied arguments; an empty name is sent as a positional argument.
  std::vector<std::pair<std::string, TestValue>> arguments{};
  uint32_t requestId = 1;
  std::string customMethod{};
};

// The response record the plug-in filled, copied out before its release.
struct FunctionReply {
  bool failed = false;
  std::string error{};  // the error text of a failed reply
  std::string value{};  // HostValueText of the result
  uint32_t status = 0;
  uint8_t responseFormatFlag = 0;
  uint32_t responseFormat = 0;
  std::string text{};
  std::vector<std::pair<std::string, std::string>> headers{};
  bool releaseSet = false;
};

struct HostLogLine {
  int32_t level = 0;
  std::string text;
};

class TestHost {
 public:
  static constexpr uint32_t kDefaultPluginHandle = 0x5EED;

  // `keepLibraryMapped` as for LoadedLibrary.
  explicit TestHost(const std::string& libraryPath = PluginLibraryPath(),
                    bool keepLibraryMapped = false);
  // A host without a library, for LoadWith.
  struct NoLibrary {};
  explicit TestHost(NoLibrary);
  // Shuts the plug-in down if the test did not, then unloads the library.
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // The loaded plug-in library; null for a host made with NoLibrary.
  [[nodiscard]] const LoadedLibrary* Library() const { return library_.get(); }

  // Calls the load export with the host's API version in words 0 to 2. True
  // when the plug-in filled the record (entry points and object set).
  bool Load(uint32_t major = 18, uint32_t minor = 0, uint32_t patch = 0);
  // The same with a load function linked into the test program, for plug-in
  // classes that exist only in tests.
  bool LoadWith(PluginLoadFunction load, uint32_t major = 18, uint32_t minor = 0,
                uint32_t patch = 0);
  [[nodiscard]] const PluginLoadInfo& LoadRecord() const { return loadRecord_; }

  // The published function record of that name (walking the table's list as a
  // host does); null if none.
  [[nodiscard]] const FunctionTableRecord* FindPublishedFunction(std::string_view name) const;
  // Calls the request callback of the published function `functionName` with
  // its dispatch context, then releases the response through the record's own
  // release function. A function that is not published fails the test.
  FunctionReply CallFunction(std::string_view functionName, const FunctionRequest& request);

  // Entry points. Initialize returns the plug-in's answer.
  bool Initialize(uint32_t pluginHandle = kDefaultPluginHandle);
  void Shutdown();
  [[nodiscard]] MemoryStatistics ReadMemoryStatistics();
  [[nodiscard]] bool IsRunning() const { return initialized_ && loadRecord_.plugin != nullptr; }

  // Answers for the plug-in's requests. Without a handler, API requests fail
  // with "No such resource" (404) and HTTP requests fail with result code 1.
  void SetApiHandler(std::function<ApiAnswer(const ApiCall&)> handler);
  void SetHttpHandler(std::function<HttpAnswer(const HttpCall&)> handler);

  // Subscriptions the plug-in holds now.
  [[nodiscard]] std::vector<Subscription> Subscriptions() const;
  [[nodiscard]] bool IsSubscribed(const std::string& eventName) const;
  // Calls every subscription to `eventName` with the payload; returns how many.
  size_t DeliverEvent(const std::string& eventName, const TestValue& payload);

  // Scheduled callbacks not yet run.
  [[nodiscard]] size_t PendingScheduledCount() const;
  [[nodiscard]] std::vector<ScheduledCall> PendingScheduled() const;
  // Runs the pending callbacks in order, including those they schedule, until
  // none is left or `limit` have run; returns how many ran.
  size_t RunScheduledCallbacks(size_t limit = 1000);

  // Recordings.
  [[nodiscard]] std::vector<CoreCall> Calls() const;
  [[nodiscard]] std::vector<ApiCall> ApiCalls() const;
  [[nodiscard]] std::vector<HttpCall> HttpCalls() const;
  [[nodiscard]] std::vector<SentEvent> SentEvents() const;
  [[nodiscard]] std::vector<HostLogLine> LogLines() const;
  [[nodiscard]] size_t CountCalls(CoreFunction function) const;
  void ClearRecordings();

 private:
  // The CoreInterface must be the first member of what the plug-in sees, so a
  // function can find the host from the table pointer it receives.
  struct Interface {
    CoreInterface table;
    TestHost* host;
  };
  static TestHost& From(CoreInterface* core);
  void SetUpInterface();

  static void KTX_HOST_CALL OnApiRequest(CoreInterface* core, ResponseRecord* response,
                                         const ApiRequestRecord* request);
  static void KTX_HOST_CALL OnHttpRequest(CoreInterface* core, HttpResponseRecord* response,
                                          const HttpRequestRecord* request);
  static void KTX_HOST_CALL OnSendEvent(CoreInterface* core, const HostEvent* event);
  static void KTX_HOST_CALL OnSubscribe(CoreInterface* core, const char* name, uint32_t handle,
                                        HostEventCallback callback, void* userData, uint32_t flag);
  static void KTX_HOST_CALL OnUnsubscribe(CoreInterface* core, const char* name, uint32_t handle);
  static void KTX_HOST_CALL OnSchedule(CoreInterface* core, const char* label,
                                       TimerCallback callback, void* context, double delay,
                                       uint32_t flag);
  static void KTX_HOST_CALL OnYield(CoreInterface* core);
  static void KTX_HOST_CALL OnWaitStart(CoreInterface* core, const char* label, uint32_t flag);
  static void KTX_HOST_CALL OnWaitEnd(CoreInterface* core);
  static void KTX_HOST_CALL OnLog(CoreInterface* core, int32_t level, const char* message);
  static void KTX_HOST_CALL ReleaseApiResponse(ResponseRecord* response);
  static void KTX_HOST_CALL ReleaseHttpResponse(HttpResponseRecord* response);

  void Record(CoreFunction function, std::string subject);

  std::unique_ptr<LoadedLibrary> library_;
  PluginLoadInfo loadRecord_{};
  Interface interface_{};
  HostServices services_{};
  bool initialized_ = false;

  mutable std::mutex mutex_;
  std::function<ApiAnswer(const ApiCall&)> apiHandler_;
  std::function<HttpAnswer(const HttpCall&)> httpHandler_;
  std::vector<CoreCall> calls_;
  std::vector<ApiCall> apiCalls_;
  std::vector<HttpCall> httpCalls_;
  std::vector<SentEvent> sentEvents_;
  std::vector<HostLogLine> logLines_;
  std::vector<Subscription> subscriptions_;
  std::vector<ScheduledCall> scheduled_;
};

}  // namespace Tesk::Testing
