#include "server/event_hub.h"

#include <algorithm>

#include "encoding/json_support.h"

namespace Tesk::DevHost {

std::string HubEvent::ToJson() const {
  return "{\"id\":" + std::to_string(id) + ",\"name\":" + JsonQuote(name) +
         ",\"payload\":" + (payload.empty() ? std::string("null") : payload) + "}";
}

namespace {

// A field of an event stream is one line.
std::string SseLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

}  // namespace

std::shared_ptr<const std::string> HubEvent::SseFrame() const {
  std::call_once(sseOnce_, [this] {
    sse_ = std::make_shared<const std::string>(
        "id: " + std::to_string(id) + "\nevent: " + SseLine(name) +
        "\ndata: " + SseLine(payload.empty() ? "null" : ValidUtf8(payload)) + "\n\n");
  });
  return sse_;
}

std::shared_ptr<const std::string> HubEvent::WebSocketFrame() const {
  std::call_once(webSocketOnce_,
                 [this] { webSocket_ = std::make_shared<const std::string>(ValidUtf8(ToJson())); });
  return webSocket_;
}

uint64_t EventHub::Publish(std::string name, std::string payloadJson) {
  auto event = std::make_shared<HubEvent>();
  event->name = std::move(name);
  event->payload = std::move(payloadJson);
  std::vector<std::shared_ptr<EventListener>> targets;
  {
    // Ids are taken and listeners copied under one lock, so every listener
    // sees the events in id order.
    std::lock_guard<std::mutex> guard(mutex_);
    event->id = ++lastId_;
    std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : listeners_) {
      if (auto listener = weak.lock()) targets.push_back(std::move(listener));
    }
    for (const auto& listener : targets) listener->OnEvent(event);
  }
  return event->id;
}

void EventHub::Attach(const std::shared_ptr<EventListener>& listener) {
  std::lock_guard<std::mutex> guard(mutex_);
  listeners_.push_back(listener);
}

void EventHub::Detach(const EventListener* listener) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::erase_if(listeners_, [&](const auto& weak) {
    const auto locked = weak.lock();
    return locked == nullptr || locked.get() == listener;
  });
}

size_t EventHub::ListenerCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return listeners_.size();
}

}  // namespace Tesk::DevHost
