#include "session/plugin_session.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>

#include "encoding/json_support.h"
#include "rest/published_routes.h"
#include "rest/response_stream.h"
#include "session/host_value_json.h"

namespace Tesk::DevHost {
namespace {

constexpr uint32_t kPluginHandle = 1;

char* CopyText(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

std::string TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

LibraryCopies::~LibraryCopies() {
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) std::remove(made->c_str());
}

std::string LibraryCopies::Copy(const std::string& libraryPath, std::string& error) {
  if (folder_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/ktx-host-plugins-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      error = "Cannot make a folder for the library's copies: " + std::string(strerror(errno));
      return {};
    }
    folder_ = pattern;
    made_.push_back(folder_);
  }
  // One folder per copy, so that the copy keeps the library's file name.
  const std::string folder = folder_ + "/" + std::to_string(made_.size());
  if (mkdir(folder.c_str(), 0700) != 0) {
    error = "Cannot make " + folder + ": " + strerror(errno);
    return {};
  }
  made_.push_back(folder);
  const size_t slash = libraryPath.find_last_of('/');
  const std::string copy =
      folder + "/" + libraryPath.substr(slash == std::string::npos ? 0 : slash + 1);
  std::ifstream from(libraryPath, std::ios::binary);
  if (!from) {
    error = "Cannot read " + libraryPath + ": " + strerror(errno);
    return {};
  }
  {
    std::ofstream to(copy, std::ios::binary | std::ios::trunc);
    made_.push_back(copy);
    to << from.rdbuf();
    if (!to.flush()) {
      error = "Cannot write " + copy;
      return {};
    }
  }
  return copy;
}

PluginSession::PluginSession(PluginHostServices& services)
    : services_(services), work_(context_.get_executor()) {
  thread_ = std::thread([this] { context_.run(); });
}

PluginSession::~PluginSession() {
  Stop();
  work_.reset();
  context_.stop();
  if (thread_.joinable()) thread_.join();
  if (library_ != nullptr) dlclose(library_);
}

void PluginSession::RunAndWait(const std::function<void()>& task) {
  std::promise<void> done;
  boost::asio::post(context_, [&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

bool PluginSession::Start(const std::string& libraryPath, std::string& error) {
  return Open(libraryPath, error) && Begin(error);
}

bool PluginSession::Open(const std::string& libraryPath, std::string& error) {
  // Kept mapped after dlclose, until the process ends: the plug-in's
  // process-wide state (its page pool, its tracing registrations) is made to
  // outlive every plug-in object and is only released with the process.
  library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (library_ == nullptr) {
    error = TextOrEmpty(dlerror());
    return false;
  }
  const std::string exportName = LoadFunctionNameForLibrary(libraryPath);
  load_ = reinterpret_cast<PluginLoadFunction>(dlsym(library_, exportName.c_str()));
  if (load_ == nullptr) {
    error = "The library exports no " + exportName;
    return false;
  }
  return true;
}

bool PluginSession::Begin(std::string& error) {
  if (load_ == nullptr) {
    error = "No library was opened";
    return false;
  }
  interface_.session = this;
  interface_.table = {&ApiRequest, &HttpRequest, &SendEvent, &Subscribe, &Unsubscribe,
                      &Schedule,   &Yield,       &WaitStart, &WaitEnd,   &Log};
  hostServices_ = {&interface_.table, kPluginHandle};
  bool initialized = false;
  RunAndWait([&] {
    record_ = PluginLoadInfo{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    load_(&record_);
    if (record_.entryPoints == nullptr || record_.plugin == nullptr) {
      error = "The plug-in did not fill its load record";
      return;
    }
    {
      // Copied: the plug-in's text goes with its object at Shutdown.
      std::lock_guard<std::mutex> guard(mutex_);
      shortName_ = TextOrEmpty(record_.shortName);
    }
    running_ = true;
    initialized = record_.entryPoints->initialize(record_.plugin, &hostServices_) != 0;
    if (!initialized) error = "The plug-in's Initialize answered false";
  });
  if (running_ && !initialized) Stop();
  return initialized;
}

void PluginSession::Stop() {
  if (stopped_.exchange(true)) return;
  RunAndWait([this] {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      for (auto& [number, timer] : timers_) timer->cancel();
      timers_.clear();
    }
    if (running_) {
      running_ = false;
      record_.entryPoints->shutdown(record_.plugin);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    subscriptions_.clear();
  });
}

std::string PluginSession::ShortName() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return shortName_;
}

bool PluginSession::Running() const { return running_; }

void PluginSession::Call(const FunctionTableRecord& function, PluginRequest request,
                         std::function<void(PluginReply)> done) {
  boost::asio::post(context_,
                    [this, &function, request = std::move(request), done = std::move(done)] {
                      if (!running_) {
                        PluginReply reply;
                        reply.failed = true;
                        reply.error = "The plug-in has stopped";
                        reply.status = 503;
                        done(std::move(reply));
                        return;
                      }
                      done(CallOnPluginThread(function, request));
                    });
}

PluginReply PluginSession::CallOnPluginThread(const FunctionTableRecord& function,
                                              const PluginRequest& request) {
  std::vector<HostHeader> headers;
  headers.reserve(request.headers.size());
  for (const HttpField& field : request.headers) {
    headers.push_back({field.name.c_str(), field.value.c_str()});
  }
  const uint32_t method = MethodCode(request.method);
  IncomingRequestRecord record{};
  record.method = method;
  record.url = request.url.c_str();
  record.dispatchContext = function.function.dispatchContext;
  record.headers = headers.data();
  record.headerCount = static_cast<uint32_t>(headers.size());
  record.contentType = request.contentType.c_str();
  record.body = request.body ? request.body->data() : nullptr;
  record.bodyLength = request.body ? static_cast<uint32_t>(request.body->size()) : 0;
  record.requestId = nextRequestId_++;
  record.customMethod = method == 8 ? request.method.c_str() : "";

  ResponseRecord response{};
  function.requestCallback(&response, &record);

  PluginReply reply;
  reply.failed = response.failed != 0 || response.errorText != nullptr;
  reply.status = response.httpStatus;
  if (reply.failed) {
    reply.error = TextOrEmpty(response.errorText);
  } else if (response.streamRead != nullptr) {
    // The plug-in's own JSON text: only its strings can hold non-ASCII bytes.
    reply.valueJson = ValidUtf8(ReadStreamText(response));
  } else {
    reply.valueJson = HostValueToJson(response.result);
  }
  for (uint32_t i = 0; response.headers != nullptr && i < response.headerCount; ++i) {
    reply.headers.push_back(
        {TextOrEmpty(response.headers[i].name), TextOrEmpty(response.headers[i].value)});
  }
  if (response.streamRelease != nullptr && response.stream != nullptr) {
    response.streamRelease(response.stream);
  }
  if (response.release != nullptr) response.release(&response);
  return reply;
}

size_t PluginSession::Deliver(const std::string& name, std::string payloadJson) {
  size_t count = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    count = subscriptions_.count(name);
  }
  if (count == 0) return 0;
  boost::asio::post(context_, [this, name, payload = std::move(payloadJson)] {
    DeliverOnPluginThread(name, payload);
  });
  return count;
}

void PluginSession::DeliverOnPluginThread(const std::string& name, const std::string& payloadJson) {
  if (!running_) return;
  rapidjson::Document document;
  std::string error;
  if (!ParseJson(payloadJson, document, error)) return;
  // Looked up now, not when queued: an unsubscription in between holds.
  std::vector<Subscription> targets;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto [first, last] = subscriptions_.equal_range(name);
    for (auto it = first; it != last; ++it) targets.push_back(it->second);
  }
  for (const Subscription& subscription : targets) {
    const OwnedHostValue payload(document);
    HostEvent event{};
    event.name = name.c_str();
    event.payload = payload.Get();
    event.userData = subscription.userData;
    subscription.callback(&event);
  }
}

MemoryStatistics PluginSession::ReadMemoryStatistics() const {
  MemoryStatistics statistics{};
  // The plug-in's counters are atomic: read from any thread while it runs.
  if (running_) record_.entryPoints->getMemoryStatistics(record_.plugin, &statistics);
  return statistics;
}

std::vector<std::string> PluginSession::SubscribedEvents() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> names;
  for (const auto& [name, subscription] : subscriptions_) {
    if (names.empty() || names.back() != name) names.push_back(name);
  }
  return names;
}

size_t PluginSession::PendingCallbacks() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return timers_.size();
}

PluginSession& PluginSession::From(CoreInterface* core) {
  return *reinterpret_cast<Interface*>(core)->session;
}

void KTX_HOST_CALL PluginSession::ApiRequest(CoreInterface* core, ResponseRecord* response,
                                             const ApiRequestRecord* request) {
  PluginSession& session = From(core);
  *response = ResponseRecord{};
  response->release = &ReleaseApiResponse;
  try {
    PluginHostServices::ApiArguments arguments;
    for (uint32_t i = 0; request->arguments != nullptr && i < request->argumentCount; ++i) {
      arguments.emplace_back(TextOrEmpty(request->arguments[i].name),
                             HostValueToJson(request->arguments[i].value));
    }
    const PluginHostServices::ApiAnswer answer =
        session.services_.AnswerApiRequest(request->method, TextOrEmpty(request->url), arguments);
    response->httpStatus = answer.status;
    if (answer.valueJson) {
      rapidjson::Document document;
      std::string error;
      if (ParseJson(*answer.valueJson, document, error)) {
        response->result = JsonToHostValue(document);
        return;
      }
      response->errorText = CopyText(error);
      response->httpStatus = 500;
    } else {
      response->errorText = CopyText(answer.error);
    }
    response->failed = 1;
  } catch (const std::exception& failure) {
    FreeHostValue(response->result);
    std::free(response->errorText);
    response->errorText = strdup(failure.what());
    response->failed = 1;
    response->httpStatus = 500;
  }
}

void KTX_HOST_CALL PluginSession::ReleaseApiResponse(ResponseRecord* response) {
  FreeHostValue(response->result);
  std::free(response->errorText);
  response->errorText = nullptr;
}

void KTX_HOST_CALL PluginSession::HttpRequest(CoreInterface* core, HttpResponseRecord* response,
                                              const HttpRequestRecord* request) {
  PluginSession& session = From(core);
  *response = HttpResponseRecord{};
  response->release = &ReleaseHttpResponse;
  IncomingResponse answer;
  try {
    OutgoingRequest outgoing;
    const char* method = MethodName(request->method);
    outgoing.method = method[0] != '\0' ? method : "GET";
    outgoing.url = TextOrEmpty(request->url);
    for (uint32_t i = 0; request->headers != nullptr && i < request->headerCount; ++i) {
      outgoing.headers.push_back(
          {TextOrEmpty(request->headers[i].name), TextOrEmpty(request->headers[i].value)});
    }
    if (request->body != nullptr) outgoing.body.assign(request->body, request->bodyLength);
    outgoing.timeoutSeconds = request->timeout;
    answer = session.services_.SendHttpRequest(outgoing);
  } catch (const std::exception& failure) {
    answer = IncomingResponse{};
    answer.body = failure.what();
  }
  response->resultCode = static_cast<uint32_t>(answer.result);
  response->httpStatus = answer.status;
  if (!answer.headers.empty()) {
    auto* pairs = static_cast<HostHeader*>(std::calloc(answer.headers.size(), sizeof(HostHeader)));
    for (size_t i = 0; pairs != nullptr && i < answer.headers.size(); ++i) {
      pairs[i].name = strdup(answer.headers[i].name.c_str());
      pairs[i].value = strdup(answer.headers[i].value.c_str());
    }
    response->headers = pairs;
    response->headerCount = pairs != nullptr ? static_cast<uint32_t>(answer.headers.size()) : 0;
  }
  response->body = static_cast<char*>(std::malloc(answer.body.size() + 1));
  if (response->body != nullptr) {
    std::memcpy(response->body, answer.body.data(), answer.body.size());
    response->body[answer.body.size()] = '\0';
    response->bodyLength = static_cast<int32_t>(answer.body.size());
  }
}

void KTX_HOST_CALL PluginSession::ReleaseHttpResponse(HttpResponseRecord* response) {
  for (uint32_t i = 0; response->headers != nullptr && i < response->headerCount; ++i) {
    std::free(const_cast<char*>(response->headers[i].name));
    std::free(const_cast<char*>(response->headers[i].value));
  }
  std::free(response->headers);
  std::free(response->body);
  response->headers = nullptr;
  response->headerCount = 0;
  response->body = nullptr;
  response->bodyLength = 0;
}

void KTX_HOST_CALL PluginSession::SendEvent(CoreInterface* core, const HostEvent* event) {
  if (event == nullptr || event->name == nullptr) return;
  From(core).services_.PublishEvent(event->name, HostValueToJson(event->payload));
}

void KTX_HOST_CALL PluginSession::Subscribe(CoreInterface* core, const char* name,
                                            uint32_t pluginHandle, HostEventCallback callback,
                                            void* userData, uint32_t flag) {
  if (name == nullptr || callback == nullptr) return;
  PluginSession& session = From(core);
  std::lock_guard<std::mutex> guard(session.mutex_);
  // One subscription per name and plug-in: subscribing again replaces it.
  const auto [first, last] = session.subscriptions_.equal_range(std::string_view(name));
  for (auto it = first; it != last; ++it) {
    if (it->second.pluginHandle == pluginHandle) {
      it->second = {pluginHandle, callback, userData, flag};
      return;
    }
  }
  session.subscriptions_.emplace(name, Subscription{pluginHandle, callback, userData, flag});
}

void KTX_HOST_CALL PluginSession::Unsubscribe(CoreInterface* core, const char* name,
                                              uint32_t pluginHandle) {
  if (name == nullptr) return;
  PluginSession& session = From(core);
  std::lock_guard<std::mutex> guard(session.mutex_);
  const auto [first, last] = session.subscriptions_.equal_range(std::string_view(name));
  for (auto it = first; it != last;) {
    it = it->second.pluginHandle == pluginHandle ? session.subscriptions_.erase(it) : std::next(it);
  }
}

void KTX_HOST_CALL PluginSession::Schedule(CoreInterface* core, const char*, TimerCallback callback,
                                           void* context, double delay, uint32_t) {
  if (callback == nullptr) return;
  PluginSession& session = From(core);
  const auto wait = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      // Negative and NaN delays are due now; longer than ~30 years is clamped.
      std::chrono::duration<double>(delay > 0 ? std::min(delay, 1e9) : 0));
  auto timer = std::make_shared<boost::asio::steady_timer>(session.context_, wait);
  uint64_t number = 0;
  {
    std::lock_guard<std::mutex> guard(session.mutex_);
    if (session.stopped_) return;
    number = session.nextTimer_++;
    session.timers_.emplace(number, timer);
  }
  timer->async_wait([&session, number, callback, context](const boost::system::error_code& error) {
    {
      std::lock_guard<std::mutex> guard(session.mutex_);
      if (session.timers_.erase(number) == 0) return;  // cancelled
    }
    if (!error && session.running_) callback(context);
  });
}

void KTX_HOST_CALL PluginSession::Yield(CoreInterface*) {}
void KTX_HOST_CALL PluginSession::WaitStart(CoreInterface*, const char*, uint32_t) {}
void KTX_HOST_CALL PluginSession::WaitEnd(CoreInterface*) {}

void KTX_HOST_CALL PluginSession::Log(CoreInterface* core, int32_t level, const char* message) {
  From(core).services_.PrintLog(level, message != nullptr ? message : "");
}

}  // namespace Tesk::DevHost
