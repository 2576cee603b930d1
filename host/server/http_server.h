// HttpServer: an HTTP/1.1 server on one loopback address, with its own event
// loop thread. Each request's head is shown to the service first (Admit), so
// a refused request is answered before its body is read; a body over the
// limit is answered 413, a head over its limit 431, a client that stalls is
// dropped after its time-out. Admitted requests for the event stream path
// become Server-Sent Events streams and WebSocket upgrades to the WebSocket
// path become WebSocket sessions, both fed by an EventHub.
//
// Connections hold slots (see ConnectionSlots): one without credentials has
// headTimeout to send a request head and can be closed for a newer one; a
// connection whose request the service authenticated takes a request slot,
// an event stream a stream slot. An event-stream client is sent at most
// maxQueuedBytes ahead of what it has read; past that it is disconnected
// (WebSocket: closed with 1008) and the log says so.
//
// Threads: Start and Stop from one controlling thread; the service is called
// on the server's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/http_message.h"

namespace Tesk::DevHost {

class EventHub;

// The service's decision on a request's head.
struct Admission {
  std::optional<LocalResponse> refusal;  // answered, then the connection closes
  bool authenticated = false;            // carried credentials: may take a request slot
};

class HttpService {
 public:
  // Decides on a request from its head (its body is still empty).
  virtual Admission Admit(const LocalRequest& head) = 0;
  // Answers an admitted request; `respond` may be called on any thread.
  virtual void Handle(LocalRequest request, Responder respond) = 0;

 protected:
  ~HttpService() = default;
};

struct HttpServerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
  size_t bodyLimit = 1u << 20;
  size_t headerLimit = 16u << 10;
  // A new connection's first request head, and every head until a request
  // of it is authenticated.
  std::chrono::milliseconds headTimeout{5000};
  // An authenticated connection's request head and body, and its idle time.
  std::chrono::milliseconds readTimeout{30000};
  size_t maxPendingConnections = 64;  // not yet authenticated
  size_t maxConnections = 128;        // authenticated, for requests
  size_t maxEventStreams = 32;
  EventHub* events = nullptr;  // null: no event streams
  std::string eventStreamPath = "/events";
  std::string webSocketPath = "/ws";
  size_t maxQueuedBytes = 8u << 20;  // per event-stream client
  size_t maxSubscriptions = 256;     // event names per WebSocket client
  // On Stop: requests in flight may finish for this long, then get 503.
  std::chrono::milliseconds shutdownGrace{2000};
  // Lines about clients the server dropped; may be empty.
  std::function<void(const std::string&)> log;
};

class HttpServer {
 public:
  HttpServer(HttpServerOptions options, HttpService& service);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds, listens and starts the server's thread. False with a message when
  // the address or port cannot be had.
  bool Start(std::string& error);
  // The port listened on (after Start).
  [[nodiscard]] uint16_t Port() const;
  // Stops accepting; closes idle connections and event streams (WebSocket
  // with 1001); lets requests in flight finish for shutdownGrace, answers
  // 503 to the rest, and ends the thread. Answers given after Stop are dropped.
  void Stop();

  struct Impl;  // the server's state, shared with its connections

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace Tesk::DevHost
