// The state an HttpServer shares with its connections, and the sessions that
// event streams become (event_streams.cc). Internal to the server.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <set>
#include <string>
#include <thread>

#include "server/connection_slots.h"
#include "server/http_server.h"

namespace Tesk::DevHost {

// Destroying the context destroys the sessions its pending handlers hold,
// which still use the members declared before it.
struct HttpServer::Impl {
  Impl(HttpServerOptions o, HttpService& s)
      : options(std::move(o)),
        service(s),
        slots(SlotLimits{options.maxPendingConnections, options.maxConnections,
                         options.maxEventStreams}) {}

  void Log(const std::string& line) const {
    if (options.log) options.log(line);
  }

  HttpServerOptions options;
  HttpService& service;
  ConnectionSlots slots;
  bool stopping = false;  // on the server's thread
  uint16_t port = 0;
  boost::asio::io_context context{1};
  // Keeps the thread running while a request waits for the plug-in with
  // nothing else pending (as when the server stops and accepts no more).
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{
      context.get_executor()};
  boost::asio::ip::tcp::acceptor acceptor{context};
  boost::asio::steady_timer acceptPause{context};
  std::thread thread;
};

// Something a connection does when the server stops: at first (`final`
// false) it ends what it can end at once and lets a request in flight
// finish; when the grace period is over it ends everything.
class Stoppable : public SlotHolder {
 public:
  virtual void Shutdown(bool final) = 0;

 protected:
  ~Stoppable() = default;
};

using Server = HttpServer::Impl*;

// Leaves the slots and closes the connection at once; its pending
// operations end with an error.
void CloseConnection(const Server& server, SlotHolder& holder, boost::beast::tcp_stream& stream);

// "127.0.0.1:54321", for the log.
[[nodiscard]] std::string PeerName(const boost::beast::tcp_stream& stream);

// Event streams, once the request's head is admitted and the stream slot
// is free: Server-Sent Events for the `names` (empty: all), and a WebSocket
// session accepting `upgrade`.
void StartEventStream(const Server& server, boost::beast::tcp_stream stream,
                      std::set<std::string> names);
void StartWebSocket(const Server& server, boost::beast::tcp_stream stream,
                    boost::beast::http::request<boost::beast::http::string_body> upgrade);

}  // namespace Tesk::DevHost
