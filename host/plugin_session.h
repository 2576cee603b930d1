// PluginSession: one plug-in shared object loaded by path and driven through
// the host contract: load export, entry points, and a CoreInterface whose
// services the development host provides.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plugin/abi/plugin_records.h"

namespace Tesk::DevHost {

// "ktx-be-tav-personalized-offers.so" gives "load_tav_personalized_offers":
// "load_" and the short name (the file name without directory, the
// "ktx-xx-" prefix and the extension) with every "-" written "_".
[[nodiscard]] std::string LoadFunctionNameForLibrary(const std::string& libraryPath);

class PluginSession {
 public:
  PluginSession() = default;
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // Loads the library, calls its load export with API 18.0.0 and Initialize.
  // Returns false with a reason in Error() when any step fails.
  bool Start(const std::string& libraryPath);
  // Runs the scheduled callbacks that are due; returns the time until the next
  // one, if any is pending.
  std::optional<std::chrono::milliseconds> RunDueCallbacks();
  // Shutdown, with every pending callback cancelled, then unload.
  void Stop();

  [[nodiscard]] const std::string& Error() const { return error_; }
  [[nodiscard]] MemoryStatistics ReadMemoryStatistics() const;

 private:
  struct Interface {
    CoreInterface table;
    PluginSession* session;
  };
  struct Scheduled {
    std::chrono::steady_clock::time_point due;
    std::string label;
    TimerCallback callback;
    void* context;
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
  static void KTX_HOST_CALL ReleaseResponse(ResponseRecord*);

  void* library_ = nullptr;
  PluginLoadInfo record_{};
  Interface interface_{};
  HostServices services_{};
  std::string error_;
  std::mutex mutex_;
  std::set<std::string> subscriptions_;
  std::vector<Scheduled> scheduled_;
};

}  // namespace Tesk::DevHost
