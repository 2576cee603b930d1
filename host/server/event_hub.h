// EventHub: hands every event the host routes (sent by the plug-in, or made
// by the host from a resource change or an injected LCDS message) to the
// local clients that listen: WebSocket and Server-Sent Events streams.
//
// Threads: every function may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Tesk::DevHost {

struct HubEvent {
  uint64_t id = 0;  // counts from 1 in the order of publication
  std::string name;
  std::string payload;  // JSON text

  // {"id":..,"name":..,"payload":..}
  [[nodiscard]] std::string ToJson() const;

  // The event as every client of a kind is sent it, built on first use and
  // shared: "id:", "event:" and "data:" lines for Server-Sent Events, and
  // ToJson() in valid UTF-8 for a WebSocket text frame.
  [[nodiscard]] std::shared_ptr<const std::string> SseFrame() const;
  [[nodiscard]] std::shared_ptr<const std::string> WebSocketFrame() const;

 private:
  mutable std::once_flag sseOnce_;
  mutable std::once_flag webSocketOnce_;
  mutable std::shared_ptr<const std::string> sse_;
  mutable std::shared_ptr<const std::string> webSocket_;
};

// A client stream. OnEvent is called on the publishing thread, for every
// event; the listener filters by name and must not block.
class EventListener {
 public:
  virtual ~EventListener() = default;
  virtual void OnEvent(const std::shared_ptr<const HubEvent>& event) = 0;
};

class EventHub {
 public:
  // Returns the event's id.
  uint64_t Publish(std::string name, std::string payloadJson);
  void Attach(const std::shared_ptr<EventListener>& listener);
  void Detach(const EventListener* listener);
  [[nodiscard]] size_t ListenerCount() const;

 private:
  mutable std::mutex mutex_;
  uint64_t lastId_ = 0;
  std::vector<std::weak_ptr<EventListener>> listeners_;
};

}  // namespace Tesk::DevHost
