// TestHost: an in-process host for a plug-in's tests, with no test framework
// of its own. It loads a built plug-in library by path, calls its export
// (found by the file's name, as the platform finds it) and entry points as the
// platform's host does, and keeps the host contract on the CoreInterface it
// offers: every call is recorded; requests reach the published functions by
// method and URL and come back as status, headers and JSON; the host holds
// resources that the plug-in reads and observes; API and HTTP requests are
// answered by handlers the test sets; events and LCDS messages reach the
// plug-in's subscriptions when the test delivers them; and scheduled
// callbacks run when the test says, or as its clock passes their time.
//
// Threads: the CoreInterface functions may be called from any thread; the
// recordings are guarded. Requests, deliveries and scheduled callbacks run on
// the calling test thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host-abi/plugin_records.h"
#include "testing/host_value_text.h"
#include "testing/loaded_library.h"

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
  double dueSeconds = 0;  // on the test host's clock: its time then, plus the delay
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
  std::string json{};   // the result as JSON, also when it came as a stream
  uint32_t status = 0;
  uint8_t responseFormatFlag = 0;
  uint32_t responseFormat = 0;
  std::string text{};
  std::vector<std::pair<std::string, std::string>> headers{};
  bool releaseSet = false;
};

// A request to the plug-in's routes as a host's client sends it.
struct RouteRequest {
  std::string method = "GET";  // DELETE, GET, HEAD, OPTIONS, PATCH, POST, PUT or another
  std::string url;             // path and query
  std::optional<std::string> body{};
  std::string contentType = "application/json";  // or MessagePack's, or YAML's
  TextPairs headers{};
};

// What a host answers its client: the plug-in's status (200 when it set none
// and succeeded, 400 when it failed without one), its headers, and the result
// as JSON or {"message": <error>}. A URL that no published function takes is
// 404, one whose function takes other methods 405 with an Allow header; those
// never reach the plug-in.
struct RouteResponse {
  uint32_t status = 0;
  TextPairs headers;
  std::string body;
  FunctionReply reply;  // the plug-in's record as it was filled
  // The header's value ("" when absent); the name is matched ignoring case.
  [[nodiscard]] std::string Header(std::string_view name) const;
};

struct HostLogLine {
  int32_t level = 0;
  std::string text;
};

class TestHost {
 public:
  static constexpr uint32_t kDefaultPluginHandle = 0x5EED;

  // `keepLibraryMapped` as for LoadedLibrary.
  explicit TestHost(const std::string& libraryPath, bool keepLibraryMapped = false);
  // A host without a library, for LoadWith.
  struct NoLibrary {};
  explicit TestHost(NoLibrary);
  // Shuts the plug-in down if the test did not, then unloads the library.
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // The loaded plug-in library; null for a host made with NoLibrary.
  [[nodiscard]] const LoadedLibrary* Library() const { return library_.get(); }

  // Calls the load export (LoadFunctionNameForLibrary of the path) with the
  // host's API version in words 0 to 2. True when the plug-in filled the
  // record (entry points and object set).
  bool Load(uint32_t major = 18, uint32_t minor = 0, uint32_t patch = 0);
  // Load and Initialize, as a host starts a plug-in; false with the reason in
  // StartError() when the library did not load, lacks its export, left the
  // record unfilled or answered Initialize with false.
  bool Start();
  [[nodiscard]] const std::string& StartError() const { return startError_; }
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
  // release function. A function that is not published is a failed reply
  // with status 404 that names it.
  FunctionReply CallFunction(std::string_view functionName, const FunctionRequest& request);
  // Routes the request to the published function whose method and URL
  // template take it, as a host does, and answers as a host answers.
  RouteResponse Request(const RouteRequest& request);
  RouteResponse Get(const std::string& url) { return Request({.url = url}); }
  RouteResponse Post(const std::string& url, std::string jsonBody) {
    return Request({.method = "POST", .url = url, .body = std::move(jsonBody)});
  }
  RouteResponse Put(const std::string& url, std::string jsonBody) {
    return Request({.method = "PUT", .url = url, .body = std::move(jsonBody)});
  }
  RouteResponse Delete(const std::string& url) { return Request({.method = "DELETE", .url = url}); }

  // Entry points. Initialize returns the plug-in's answer.
  bool Initialize(uint32_t pluginHandle = kDefaultPluginHandle);
  void Shutdown();
  [[nodiscard]] MemoryStatistics ReadMemoryStatistics();
  [[nodiscard]] bool IsRunning() const { return initialized_ && loadRecord_.plugin != nullptr; }

  // Resources the host holds. A GET API request for a held one is answered
  // with its value before any handler is asked. While the plug-in runs,
  // setting one delivers its resource event ({uri, eventType, data}: Create
  // the first time, Update after; Delete when deleted) under its event name
  // and under "OnJsonApiEvent", as the platform announces changes.
  void SetResource(const std::string& uri, const TestValue& value);
  void SetResourceJson(const std::string& uri, std::string_view json) {
    SetResource(uri, TestValue::FromJson(json));
  }
  // False when the host held no such resource.
  bool DeleteResource(const std::string& uri);
  [[nodiscard]] std::optional<TestValue> Resource(const std::string& uri) const;

  // Answers for the plug-in's other requests. Without a handler, API requests
  // fail with "No such resource" (404) and HTTP requests fail with result
  // code 1.
  void SetApiHandler(std::function<ApiAnswer(const ApiCall&)> handler);
  void SetHttpHandler(std::function<HttpAnswer(const HttpCall&)> handler);

  // Subscriptions the plug-in holds now.
  [[nodiscard]] std::vector<Subscription> Subscriptions() const;
  [[nodiscard]] bool IsSubscribed(const std::string& eventName) const;
  // Calls every subscription to `eventName` with the payload; returns how many.
  size_t DeliverEvent(const std::string& eventName, const TestValue& payload);
  // An LCDS message {clientId, subtopic, typeName, body}, delivered under
  // "OnLcdsEvent_<typeName with "." as "_">" and "OnLcdsEvent"; returns how many
  // subscriptions were called. (The SDK runs a message's handler on a
  // scheduled callback: run those next.)
  size_t DeliverLcdsMessage(const std::string& typeName, const TestValue& body,
                            const std::string& clientId = "", const std::string& subtopic = "");

  // Scheduled callbacks not yet run.
  [[nodiscard]] size_t PendingScheduledCount() const;
  [[nodiscard]] std::vector<ScheduledCall> PendingScheduled() const;
  // Runs the pending callbacks in order, including those they schedule, until
  // none is left or `limit` have run; returns how many ran. Their delays are
  // not waited for.
  size_t RunScheduledCallbacks(size_t limit = 1000);
  // The test host's clock, in seconds from 0; it moves only when the test
  // advances it. AdvanceClock moves it on and runs the callbacks that are due
  // by then, earliest first (those scheduled meanwhile too, when due); returns
  // how many ran. RunDueCallbacks runs those due now.
  [[nodiscard]] double ClockSeconds() const;
  size_t AdvanceClock(double seconds);
  size_t RunDueCallbacks() { return AdvanceClock(0); }

  // Recordings.
  [[nodiscard]] std::vector<CoreCall> Calls() const;
  [[nodiscard]] std::vector<ApiCall> ApiCalls() const;
  [[nodiscard]] std::vector<HttpCall> HttpCalls() const;
  [[nodiscard]] std::vector<SentEvent> SentEvents() const;
  // The events of that name only.
  [[nodiscard]] std::vector<SentEvent> SentEvents(std::string_view name) const;
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
  void DeliverResourceEvent(const std::string& uri, const char* eventType, const TestValue& data);

  std::string libraryPath_;
  std::string startError_;
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
  double clock_ = 0;
  uint32_t nextRequestId_ = 1;
  std::map<std::string, TestValue> resources_;
};

}  // namespace Tesk::Testing
