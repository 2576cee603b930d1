// HttpServer: an HTTP/1.1 server on one loopback address, with its own event
// loop thread. Each request's head is shown to the service first (Admit), so
// a refused request is answered before its body is read; a body over the
// limit is answered 413, a head over its limit 431, a client that stalls is
// dropped after the read time-out. Admitted requests for the event stream
// path become Server-Sent Events streams and WebSocket upgrades to the
// WebSocket path become WebSocket sessions, both fed by an EventHub.
//
// Threads: Start and Stop from one controlling thread; the service is called
// on the server's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http_message.h"

namespace Tesk::DevHost {

class EventHub;

class HttpService {
 public:
  // Decides on a request from its head (its body is still empty): a response
  // refuses it, and the connection is closed after the answer.
  virtual std::optional<LocalResponse> Admit(const LocalRequest& head) = 0;
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
  std::chrono::milliseconds readTimeout{30000};  // a request's head and body, an idle connection
  size_t maxConnections = 128;
  EventHub* events = nullptr;  // null: no event streams
  std::string eventStreamPath = "/events";
  std::string webSocketPath = "/ws";
  size_t maxQueuedEvents = 1024;  // per client; a client that falls further behind is dropped
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
  // Stops accepting and ends the thread; connections are closed when the
  // server is destroyed. Answers given after Stop are dropped.
  void Stop();

  struct Impl;  // the server's state, shared with its connections

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace Tesk::DevHost
