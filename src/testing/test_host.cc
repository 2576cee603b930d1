#include "testing/test_host.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host-abi/load_function_name.h"
#include "plugin/event_names.h"
#include "plugin/plugin_manager_types.h"
#include "rest/published_routes.h"
#include "rest/response_stream.h"

namespace Tesk::Testing {
namespace {

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

std::string TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

HostHeader* CopyHeaders(const TextPairs& headers) {
  auto* copy = static_cast<HostHeader*>(std::calloc(headers.size() + 1, sizeof(HostHeader)));
  for (size_t i = 0; i < headers.size(); ++i) {
    copy[i].name = CopyText(headers[i].first);
    copy[i].value = CopyText(headers[i].second);
  }
  return copy;
}

void FreeHeaders(HostHeader* headers, uint32_t count) {
  if (headers == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    std::free(const_cast<char*>(headers[i].name));
    std::free(const_cast<char*>(headers[i].value));
  }
  std::free(headers);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string JsonQuoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      quoted += "\\u00";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

RouteResponse ErrorResponse(uint32_t status, std::string_view message) {
  RouteResponse response;
  response.status = status;
  response.body = "{\"message\":" + JsonQuoted(message) + "}";
  response.headers.emplace_back("Content-Type", "application/json");
  response.reply.failed = true;
  response.reply.error = message;
  response.reply.status = status;
  return response;
}

TestValue ResourceEventValue(const std::string& uri, const char* type, const TestValue& data) {
  return TestValue::Structure(
      {{"uri", TestValue::String(uri)}, {"eventType", TestValue::String(type)}, {"data", data}});
}

}  // namespace

std::string RouteResponse::Header(std::string_view name) const {
  for (const auto& [field, value] : headers) {
    if (EqualsIgnoringCase(field, name)) return value;
  }
  return {};
}

TestHost::TestHost(const std::string& libraryPath, bool keepLibraryMapped)
    : libraryPath_(libraryPath),
      library_(std::make_unique<LoadedLibrary>(libraryPath, keepLibraryMapped)) {
  SetUpInterface();
}

TestHost::TestHost(NoLibrary) { SetUpInterface(); }

void TestHost::SetUpInterface() {
  interface_.host = this;
  CoreInterface& table = interface_.table;
  table.apiRequest = &TestHost::OnApiRequest;
  table.httpRequest = &TestHost::OnHttpRequest;
  table.sendEvent = &TestHost::OnSendEvent;
  table.subscribe = &TestHost::OnSubscribe;
  table.unsubscribe = &TestHost::OnUnsubscribe;
  table.schedule = &TestHost::OnSchedule;
  table.yield = &TestHost::OnYield;
  table.waitStart = &TestHost::OnWaitStart;
  table.waitEnd = &TestHost::OnWaitEnd;
  table.log = &TestHost::OnLog;
}

const FunctionTableRecord* TestHost::FindPublishedFunction(std::string_view name) const {
  const FunctionTable* table = loadRecord_.functionTable;
  if (table == nullptr) return nullptr;
  const auto* record = static_cast<const FunctionTableRecord*>(table->functions);
  for (uint32_t i = 0; record != nullptr && i < table->functionCount; ++i) {
    const char* recordName = record->function.name;
    if (recordName != nullptr && name == recordName) return record;
    record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
  }
  return nullptr;
}

FunctionReply TestHost::CallFunction(std::string_view functionName, const FunctionRequest& sent) {
  FunctionReply reply;
  const FunctionTableRecord* record = FindPublishedFunction(functionName);
  if (record == nullptr || record->requestCallback == nullptr) {
    reply.failed = true;
    reply.error = "No published function " + std::string(functionName);
    reply.status = 404;
    return reply;
  }
  std::vector<HostHeader> headers;
  for (const auto& [name, value] : sent.headers) headers.push_back({name.c_str(), value.c_str()});
  std::vector<HostArgument> arguments;
  for (const auto& [name, value] : sent.arguments) {
    arguments.push_back({name.empty() ? nullptr : name.c_str(), value.ToHostValue()});
  }
  IncomingRequestRecord request{};
  request.method = sent.method;
  request.url = sent.url.c_str();
  request.arguments = arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());
  request.dispatchContext = record->function.dispatchContext;
  request.headers = headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = sent.contentType.c_str();
  request.body = sent.body ? sent.body->data() : nullptr;
  request.bodyLength = sent.body ? static_cast<uint32_t>(sent.body->size()) : 0;
  request.requestId = sent.requestId;
  request.customMethod = sent.customMethod.c_str();
  ResponseRecord response{};
  record->requestCallback(&response, &request);
  for (HostArgument& argument : arguments) Testing::ReleaseHostValue(argument.value);

  reply.failed = response.failed != 0;
  if (response.errorText != nullptr) reply.error = response.errorText;
  reply.value = HostValueText(response.result);
  if (response.streamRead != nullptr) {
    reply.json = ReadStreamText(response);
  } else if (!reply.failed) {
    reply.json = HostValueJson(response.result);
  }
  reply.status = response.httpStatus;
  reply.responseFormatFlag = response.responseFormatFlag;
  reply.responseFormat = response.responseFormat;
  if (response.text != nullptr) reply.text = response.text;
  for (uint32_t i = 0; response.headers != nullptr && i < response.headerCount; ++i) {
    reply.headers.emplace_back(response.headers[i].name, response.headers[i].value);
  }
  reply.releaseSet = response.release != nullptr;
  if (response.streamRelease != nullptr && response.stream != nullptr) {
    response.streamRelease(response.stream);
  }
  if (response.release != nullptr) response.release(&response);
  return reply;
}

RouteResponse TestHost::Request(const RouteRequest& sent) {
  const std::string path = sent.url.substr(0, sent.url.find('?'));
  const RouteLookup lookup = FunctionRoutes(loadRecord_.functionTable).Find(sent.method, path);
  if (lookup.function == nullptr && !lookup.allowedMethods.empty()) {
    std::string allowed;
    for (const std::string& name : lookup.allowedMethods) {
      allowed += (allowed.empty() ? "" : ", ") + name;
    }
    RouteResponse refusal = ErrorResponse(405, "Method not allowed; use " + allowed);
    refusal.headers.emplace_back("Allow", allowed);
    return refusal;
  }
  if (lookup.function == nullptr || lookup.function->function.name == nullptr) {
    return ErrorResponse(404, "No route for " + sent.method + " " + path);
  }
  FunctionRequest request;
  request.method = MethodCode(sent.method);
  request.customMethod = request.method == 8 ? sent.method : "";
  request.url = sent.url;
  // Header names as a host hands them over: in lower case.
  for (const auto& [name, value] : sent.headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    request.headers.emplace_back(std::move(lower), value);
  }
  request.contentType = sent.contentType;
  request.body = sent.body;
  request.requestId = nextRequestId_++;

  RouteResponse response;
  response.reply = CallFunction(lookup.function->function.name, request);
  const FunctionReply& reply = response.reply;
  uint32_t status = reply.status;
  if (status == 0) status = reply.failed ? 400 : 200;
  if (status < 100 || status > 599) status = 500;
  response.status = status;
  response.body = reply.failed ? "{\"message\":" + JsonQuoted(reply.error) + "}"
                               : (reply.json.empty() ? "null" : reply.json);
  bool typed = false;
  for (const auto& [name, value] : reply.headers) {
    typed = typed || EqualsIgnoringCase(name, "content-type");
    response.headers.emplace_back(name, value);
  }
  if (!typed) response.headers.emplace_back("Content-Type", "application/json");
  return response;
}

TestHost::~TestHost() {
  if (loadRecord_.plugin != nullptr) Shutdown();
}

bool TestHost::Load(uint32_t major, uint32_t minor, uint32_t patch) {
  if (library_ == nullptr) return false;
  auto load = reinterpret_cast<PluginLoadFunction>(
      library_->Symbol(LoadFunctionNameForLibrary(libraryPath_).c_str()));
  return LoadWith(load, major, minor, patch);
}

bool TestHost::Start() {
  startError_.clear();
  if (library_ == nullptr || !library_->IsLoaded()) {
    startError_ = library_ != nullptr ? "The library did not load: " + library_->Error()
                                      : "The host has no library";
  } else if (library_->Symbol(LoadFunctionNameForLibrary(libraryPath_).c_str()) == nullptr) {
    startError_ = "The library exports no " + LoadFunctionNameForLibrary(libraryPath_);
  } else if (!Load()) {
    startError_ = "The plug-in did not fill its load record";
  } else if (!Initialize()) {
    startError_ = "The plug-in's Initialize answered false";
  }
  return startError_.empty();
}

bool TestHost::LoadWith(PluginLoadFunction load, uint32_t major, uint32_t minor, uint32_t patch) {
  if (load == nullptr) return false;
  loadRecord_ = PluginLoadInfo{};
  loadRecord_.apiMajor = major;
  loadRecord_.apiMinor = minor;
  loadRecord_.apiPatch = patch;
  load(&loadRecord_);
  return loadRecord_.entryPoints != nullptr && loadRecord_.plugin != nullptr;
}

bool TestHost::Initialize(uint32_t pluginHandle) {
  services_.core = &interface_.table;
  services_.pluginHandle = pluginHandle;
  initialized_ = true;
  return loadRecord_.entryPoints->initialize(loadRecord_.plugin, &services_) != 0;
}

void TestHost::Shutdown() {
  if (loadRecord_.plugin == nullptr) return;
  loadRecord_.entryPoints->shutdown(loadRecord_.plugin);
  loadRecord_.plugin = nullptr;
  initialized_ = false;
  // Nothing may reach the plug-in object after Shutdown.
  std::lock_guard<std::mutex> guard(mutex_);
  scheduled_.clear();
  subscriptions_.clear();
}

MemoryStatistics TestHost::ReadMemoryStatistics() {
  MemoryStatistics statistics{};
  std::memset(&statistics, 0xCD, sizeof statistics);
  loadRecord_.entryPoints->getMemoryStatistics(loadRecord_.plugin, &statistics);
  return statistics;
}

void TestHost::SetApiHandler(std::function<ApiAnswer(const ApiCall&)> handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  apiHandler_ = std::move(handler);
}

void TestHost::SetHttpHandler(std::function<HttpAnswer(const HttpCall&)> handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  httpHandler_ = std::move(handler);
}

std::vector<Subscription> TestHost::Subscriptions() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return subscriptions_;
}

bool TestHost::IsSubscribed(const std::string& eventName) const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const Subscription& s : subscriptions_) {
    if (s.name == eventName) return true;
  }
  return false;
}

size_t TestHost::DeliverEvent(const std::string& eventName, const TestValue& payload) {
  std::vector<Subscription> targets;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const Subscription& s : subscriptions_) {
      if (s.name == eventName) targets.push_back(s);
    }
  }
  for (const Subscription& s : targets) {
    HostEvent event{};
    event.name = s.name.c_str();
    event.payload = payload.ToHostValue();
    event.userData = s.userData;
    s.callback(&event);
    Testing::ReleaseHostValue(event.payload);
  }
  return targets.size();
}

size_t TestHost::DeliverLcdsMessage(const std::string& typeName, const TestValue& body,
                                    const std::string& clientId, const std::string& subtopic) {
  const TestValue message = TestValue::Structure({{"clientId", TestValue::String(clientId)},
                                                  {"subtopic", TestValue::String(subtopic)},
                                                  {"typeName", TestValue::String(typeName)},
                                                  {"body", body}});
  return DeliverEvent(EventNameForLcdsType(typeName), message) +
         DeliverEvent(kLcdsEventName, message);
}

void TestHost::SetResource(const std::string& uri, const TestValue& value) {
  bool existed = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto [held, added] = resources_.insert_or_assign(uri, value);
    existed = !added;
  }
  DeliverResourceEvent(uri, existed ? "Update" : "Create", value);
}

bool TestHost::DeleteResource(const std::string& uri) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (resources_.erase(uri) == 0) return false;
  }
  DeliverResourceEvent(uri, "Delete", TestValue());
  return true;
}

std::optional<TestValue> TestHost::Resource(const std::string& uri) const {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto held = resources_.find(uri);
  if (held == resources_.end()) return std::nullopt;
  return held->second;
}

void TestHost::DeliverResourceEvent(const std::string& uri, const char* eventType,
                                    const TestValue& data) {
  if (!IsRunning()) return;
  const TestValue payload = ResourceEventValue(uri, eventType, data);
  DeliverEvent(EventNameForResource(uri), payload);
  DeliverEvent(kJsonApiEventName, payload);
}

size_t TestHost::PendingScheduledCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return scheduled_.size();
}

std::vector<ScheduledCall> TestHost::PendingScheduled() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return scheduled_;
}

size_t TestHost::RunScheduledCallbacks(size_t limit) {
  size_t ran = 0;
  while (ran < limit) {
    ScheduledCall next;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (scheduled_.empty()) break;
      next = scheduled_.front();
      scheduled_.erase(scheduled_.begin());
    }
    next.callback(next.context);
    ++ran;
  }
  return ran;
}

double TestHost::ClockSeconds() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return clock_;
}

size_t TestHost::AdvanceClock(double seconds) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (seconds > 0) clock_ += seconds;
  }
  size_t ran = 0;
  for (;;) {
    ScheduledCall next;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      // The earliest due; the first scheduled among equals.
      auto due = scheduled_.end();
      for (auto it = scheduled_.begin(); it != scheduled_.end(); ++it) {
        if (it->dueSeconds <= clock_ &&
            (due == scheduled_.end() || it->dueSeconds < due->dueSeconds)) {
          due = it;
        }
      }
      if (due == scheduled_.end()) break;
      next = *due;
      scheduled_.erase(due);
    }
    next.callback(next.context);
    ++ran;
  }
  return ran;
}

std::vector<CoreCall> TestHost::Calls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

std::vector<ApiCall> TestHost::ApiCalls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return apiCalls_;
}

std::vector<HttpCall> TestHost::HttpCalls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return httpCalls_;
}

std::vector<SentEvent> TestHost::SentEvents() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return sentEvents_;
}

std::vector<SentEvent> TestHost::SentEvents(std::string_view name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<SentEvent> named;
  for (const SentEvent& event : sentEvents_) {
    if (event.name == name) named.push_back(event);
  }
  return named;
}

std::vector<HostLogLine> TestHost::LogLines() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return logLines_;
}

size_t TestHost::CountCalls(CoreFunction function) const {
  std::lock_guard<std::mutex> guard(mutex_);
  size_t count = 0;
  for (const CoreCall& call : calls_) count += call.function == function ? 1 : 0;
  return count;
}

void TestHost::ClearRecordings() {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.clear();
  apiCalls_.clear();
  httpCalls_.clear();
  sentEvents_.clear();
  logLines_.clear();
}

TestHost& TestHost::From(CoreInterface* core) { return *reinterpret_cast<Interface*>(core)->host; }

void TestHost::Record(CoreFunction function, std::string subject) {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.push_back({function, std::move(subject)});
}

void KTX_HOST_CALL TestHost::OnApiRequest(CoreInterface* core, ResponseRecord* response,
                                          const ApiRequestRecord* request) {
  TestHost& host = From(core);
  ApiCall call;
  call.method = request->method;
  call.url = TextOrEmpty(request->url);
  call.pluginHandle = request->pluginHandle;
  for (uint32_t i = 0; i < request->argumentCount; ++i) {
    const HostArgument& argument = request->arguments[i];
    call.arguments.emplace_back(argument.name != nullptr ? argument.name : "#" + std::to_string(i),
                                HostValueText(argument.value));
  }
  host.Record(CoreFunction::ApiRequest, call.url);
  std::function<ApiAnswer(const ApiCall&)> handler;
  std::optional<ApiAnswer> held;
  {
    std::lock_guard<std::mutex> guard(host.mutex_);
    host.apiCalls_.push_back(call);
    handler = host.apiHandler_;
    const auto resource = call.method == 2 ? host.resources_.find(call.url) : host.resources_.end();
    if (resource != host.resources_.end()) held = ApiAnswer::Value(resource->second);
  }
  const ApiAnswer answer = held      ? *held
                           : handler ? handler(call)
                                     : ApiAnswer::Failure("No such resource");
  response->httpStatus = answer.httpStatus;
  if (answer.error) {
    response->errorText = CopyText(*answer.error);
    response->failed = 1;
  } else {
    response->result = answer.value.ToHostValue();
  }
  response->release = &TestHost::ReleaseApiResponse;
}

void KTX_HOST_CALL TestHost::ReleaseApiResponse(ResponseRecord* response) {
  Testing::ReleaseHostValue(response->result);
  std::free(response->errorText);
  response->errorText = nullptr;
  FreeHeaders(response->headers, response->headerCount);
  response->headers = nullptr;
  response->headerCount = 0;
}

void KTX_HOST_CALL TestHost::OnHttpRequest(CoreInterface* core, HttpResponseRecord* response,
                                           const HttpRequestRecord* request) {
  TestHost& host = From(core);
  HttpCall call;
  call.method = request->method;
  call.url = TextOrEmpty(request->url);
  for (uint32_t i = 0; i < request->headerCount; ++i) {
    call.headers.emplace_back(TextOrEmpty(request->headers[i].name),
                              TextOrEmpty(request->headers[i].value));
  }
  if (request->body != nullptr) call.body.assign(request->body, request->bodyLength);
  call.timeout = request->timeout;
  call.flag = request->flag;
  host.Record(CoreFunction::HttpRequest, call.url);
  std::function<HttpAnswer(const HttpCall&)> handler;
  {
    std::lock_guard<std::mutex> guard(host.mutex_);
    host.httpCalls_.push_back(call);
    handler = host.httpHandler_;
  }
  HttpAnswer answer;
  if (handler) {
    answer = handler(call);
  } else {
    answer.resultCode = 1;
    answer.httpStatus = 0;
  }
  response->resultCode = answer.resultCode;
  response->httpStatus = answer.httpStatus;
  response->headers = CopyHeaders(answer.headers);
  response->headerCount = static_cast<uint32_t>(answer.headers.size());
  response->body = static_cast<char*>(std::malloc(answer.body.size() + 1));
  std::memcpy(response->body, answer.body.data(), answer.body.size());
  response->body[answer.body.size()] = '\0';
  response->bodyLength = static_cast<int32_t>(answer.body.size());
  response->release = &TestHost::ReleaseHttpResponse;
}

void KTX_HOST_CALL TestHost::ReleaseHttpResponse(HttpResponseRecord* response) {
  FreeHeaders(response->headers, response->headerCount);
  response->headers = nullptr;
  response->headerCount = 0;
  std::free(response->body);
  response->body = nullptr;
  response->bodyLength = 0;
}

void KTX_HOST_CALL TestHost::OnSendEvent(CoreInterface* core, const HostEvent* event) {
  TestHost& host = From(core);
  const std::string name = TextOrEmpty(event->name);
  host.Record(CoreFunction::SendEvent, name);
  std::lock_guard<std::mutex> guard(host.mutex_);
  host.sentEvents_.push_back({name, HostValueText(event->payload), event->flags});
}

void KTX_HOST_CALL TestHost::OnSubscribe(CoreInterface* core, const char* name, uint32_t handle,
                                         HostEventCallback callback, void* userData,
                                         uint32_t flag) {
  TestHost& host = From(core);
  host.Record(CoreFunction::Subscribe, TextOrEmpty(name));
  std::lock_guard<std::mutex> guard(host.mutex_);
  host.subscriptions_.push_back({TextOrEmpty(name), handle, callback, userData, flag});
}

void KTX_HOST_CALL TestHost::OnUnsubscribe(CoreInterface* core, const char* name, uint32_t handle) {
  TestHost& host = From(core);
  const std::string eventName = TextOrEmpty(name);
  host.Record(CoreFunction::Unsubscribe, eventName);
  std::lock_guard<std::mutex> guard(host.mutex_);
  std::erase_if(host.subscriptions_, [&](const Subscription& s) {
    return s.name == eventName && s.pluginHandle == handle;
  });
}

void KTX_HOST_CALL TestHost::OnSchedule(CoreInterface* core, const char* label,
                                        TimerCallback callback, void* context, double delay,
                                        uint32_t flag) {
  TestHost& host = From(core);
  host.Record(CoreFunction::Schedule, TextOrEmpty(label));
  std::lock_guard<std::mutex> guard(host.mutex_);
  // Negative and NaN delays are due at once.
  const double wait = delay > 0 ? delay : 0;
  host.scheduled_.push_back(
      {TextOrEmpty(label), callback, context, delay, flag, host.clock_ + wait});
}

void KTX_HOST_CALL TestHost::OnYield(CoreInterface* core) {
  From(core).Record(CoreFunction::Yield, {});
}

void KTX_HOST_CALL TestHost::OnWaitStart(CoreInterface* core, const char* label, uint32_t) {
  From(core).Record(CoreFunction::WaitStart, TextOrEmpty(label));
}

void KTX_HOST_CALL TestHost::OnWaitEnd(CoreInterface* core) {
  From(core).Record(CoreFunction::WaitEnd, {});
}

void KTX_HOST_CALL TestHost::OnLog(CoreInterface* core, int32_t level, const char* message) {
  TestHost& host = From(core);
  const std::string text = TextOrEmpty(message);
  host.Record(CoreFunction::Log, text);
  std::lock_guard<std::mutex> guard(host.mutex_);
  host.logLines_.push_back({level, text});
}

}  // namespace Tesk::Testing
