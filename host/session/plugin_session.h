// PluginSession: one plug-in shared object loaded by path and driven through
// the host contract: its load export, its entry points, its published
// functions, and a CoreInterface whose services this session provides.
//
// Threads: every call into the plug-in (load, Initialize, requests, event
// callbacks, scheduled callbacks, Shutdown) runs on the session's own plug-in
// thread, one at a time, in the order it was queued: the plug-in's state takes
// no lock. The plug-in blocks that thread in its outgoing requests, so what
// answers them (PluginHostServices) must never wait for the plug-in thread.
// The public functions may be called from any thread.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host-abi/load_function_name.h"
#include "host-abi/plugin_records.h"
#include "server/http_message.h"
#include "session/http_client.h"

namespace Tesk::DevHost {

// What the plug-in's requests and events reach outside the session. Called on
// the plug-in thread (PrintLog on any thread); none may wait for the plug-in.
class PluginHostServices {
 public:
  struct ApiAnswer {
    std::optional<std::string> valueJson;  // set on success
    std::string error;                     // the failure's text otherwise
    uint32_t status = 200;
  };
  // One argument of an API request: its name ("" for a positional one) and
  // its value as JSON.
  using ApiArguments = std::vector<std::pair<std::string, std::string>>;

  virtual ApiAnswer AnswerApiRequest(uint32_t method, const std::string& url,
                                     const ApiArguments& arguments) = 0;
  virtual IncomingResponse SendHttpRequest(const OutgoingRequest& request) = 0;
  // An event the plug-in sent; the payload is JSON.
  virtual void PublishEvent(const std::string& name, std::string payloadJson) = 0;
  virtual void PrintLog(int32_t level, const char* text) = 0;

 protected:
  ~PluginHostServices() = default;
};

// A request for one published function, as the local client sent it.
struct PluginRequest {
  std::string method;
  std::string url;  // path and query
  std::vector<HttpField> headers;
  std::string contentType;
  std::optional<std::string> body;  // nothing when the request has no body
};

// The plug-in's response record, copied out before its release.
struct PluginReply {
  bool failed = false;
  std::string error;      // the error text of a failed call
  uint32_t status = 0;    // as the plug-in set it; 0 when it set none
  std::string valueJson;  // the result as JSON, also when it came as a stream
  std::vector<HttpField> headers;
};

// Private copies of plug-in libraries, one per load, in a folder of their own
// (mode 0700) under $TMPDIR or /tmp: a build may then replace the library
// while a copy is loaded. Each copy keeps the library's file name, which names
// its export, and stays on disk until this object goes: a copy removed while
// loaded could free its inode for the next copy, which the dynamic loader
// would then take for the library it has already loaded.
class LibraryCopies {
 public:
  LibraryCopies() = default;
  ~LibraryCopies();
  LibraryCopies(const LibraryCopies&) = delete;
  LibraryCopies& operator=(const LibraryCopies&) = delete;

  // The path of a new copy of `libraryPath`; empty with a reason on failure.
  [[nodiscard]] std::string Copy(const std::string& libraryPath, std::string& error);

 private:
  std::string folder_;
  std::vector<std::string> made_;  // files and folders, in the order made
};

class PluginSession {
 public:
  explicit PluginSession(PluginHostServices& services);
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // Open and Begin: returns false with a reason when any step fails.
  bool Start(const std::string& libraryPath, std::string& error);
  // Loads the library and finds its load export; nothing of the plug-in runs
  // yet (its static initialisation aside).
  bool Open(const std::string& libraryPath, std::string& error);
  // Calls the load export with API 18.0.0 and Initialize. A plug-in whose
  // Initialize answers false is shut down.
  bool Begin(std::string& error);
  // Cancels every pending scheduled callback and runs Shutdown on the plug-in
  // thread. Nothing reaches the plug-in afterwards; its library stays mapped
  // until the process ends.
  void Stop();

  // The function table the plug-in published while it runs; null before
  // Begin and after Stop, when the table is gone with the plug-in object.
  [[nodiscard]] const FunctionTable* Functions() const {
    return running_ ? record_.functionTable : nullptr;
  }
  // The short name the plug-in published, kept after Stop.
  [[nodiscard]] std::string ShortName() const;

  // Calls the function's request callback on the plug-in thread; `done` gets
  // the reply there (a failure with status 503 once the session stopped).
  void Call(const FunctionTableRecord& function, PluginRequest request,
            std::function<void(PluginReply)> done);
  // Delivers an event to the plug-in's subscriptions of that name, on the
  // plug-in thread. Returns the number of subscriptions when queued.
  size_t Deliver(const std::string& name, std::string payloadJson);

  [[nodiscard]] MemoryStatistics ReadMemoryStatistics() const;
  [[nodiscard]] std::vector<std::string> SubscribedEvents() const;
  [[nodiscard]] size_t PendingCallbacks() const;
  [[nodiscard]] bool Running() const;

 private:
  struct Interface {
    CoreInterface table;
    PluginSession* session;
  };
  struct Subscription {
    uint32_t pluginHandle;
    HostEventCallback callback;
    void* userData;
    uint32_t flag;
  };

  static PluginSession& From(CoreInterface* core);
  static void KTX_HOST_CALL ApiRequest(CoreInterface*, ResponseRecord*, const ApiRequestRecord*);
  static void KTX_HOST_CALL HttpRequest(CoreInterface*, HttpResponseRecord*,
                                        const HttpRequestRecord*);
  static void KTX_HOST_CALL SendEvent(CoreInterface*, const HostEvent*);
  static void KTX_HOST_CALL Subscribe(CoreInterface*, const char*, uint32_t, HostEventCallback,
                                      void*, uint32_t);
  static void KTX_HOST_CALL Unsubscribe(CoreInterface*, const char*, uint32_t);
  static void KTX_HOST_CALL Schedule(CoreInterface*, const char*, TimerCallback, void*, double,
                                     uint32_t);
  static void KTX_HOST_CALL Yield(CoreInterface*);
  static void KTX_HOST_CALL WaitStart(CoreInterface*, const char*, uint32_t);
  static void KTX_HOST_CALL WaitEnd(CoreInterface*);
  static void KTX_HOST_CALL Log(CoreInterface*, int32_t, const char*);
  static void KTX_HOST_CALL ReleaseApiResponse(ResponseRecord*);
  static void KTX_HOST_CALL ReleaseHttpResponse(HttpResponseRecord*);

  // Runs `task` on the plug-in thread and waits for it.
  void RunAndWait(const std::function<void()>& task);
  PluginReply CallOnPluginThread(const FunctionTableRecord& function, const PluginRequest& request);
  void DeliverOnPluginThread(const std::string& name, const std::string& payloadJson);

  PluginHostServices& services_;
  boost::asio::io_context context_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::thread thread_;

  void* library_ = nullptr;
  PluginLoadFunction load_ = nullptr;
  PluginLoadInfo record_{};
  Interface interface_{};
  HostServices hostServices_{};
  std::atomic<bool> running_{false};  // changed on the plug-in thread only
  uint32_t nextRequestId_ = 1;

  mutable std::mutex mutex_;
  std::string shortName_;
  std::multimap<std::string, Subscription, std::less<>> subscriptions_;
  uint64_t nextTimer_ = 1;
  std::map<uint64_t, std::shared_ptr<boost::asio::steady_timer>> timers_;
  std::atomic<bool> stopped_{false};
};

}  // namespace Tesk::DevHost
