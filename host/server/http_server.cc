#include "server/http_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <set>
#include <thread>

#include "server/event_names.h"
#include "server/server_state.h"

namespace Tesk::DevHost {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

std::string PeerName(const beast::tcp_stream& stream) {
  beast::error_code error;
  const tcp::endpoint peer = stream.socket().remote_endpoint(error);
  if (error) return "(gone)";
  return peer.address().to_string() + ":" + std::to_string(peer.port());
}

void CloseConnection(const Server& server, SlotHolder& holder, beast::tcp_stream& stream) {
  server->slots.Remove(holder);
  beast::error_code ignored;
  stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream.socket().close(ignored);
}

namespace {

constexpr std::chrono::seconds kWriteTimeout{30};
constexpr std::chrono::seconds kLingerTime{2};
// After the grace period, how long the last answers have to go out.
constexpr std::chrono::seconds kFinalAnswerTime{1};
// After a failed accept (out of descriptors), before the next.
constexpr std::chrono::milliseconds kAcceptPause{100};

LocalRequest ToLocalRequest(const http::request<http::string_body>& message) {
  LocalRequest request;
  request.method = std::string(message.method_string());
  request.target = std::string(message.target());
  for (const auto& field : message) {
    request.headers.push_back({std::string(field.name_string()), std::string(field.value())});
  }
  request.body = message.body();
  return request;
}

http::response<http::string_body> ToMessage(LocalResponse response, unsigned version,
                                            bool keepAlive) {
  http::response<http::string_body> message{static_cast<http::status>(response.status), version};
  message.set(http::field::server, "ktx-host");
  if (!response.contentType.empty()) message.set(http::field::content_type, response.contentType);
  message.set(http::field::cache_control, "no-store");
  for (const HttpField& field : response.headers) message.insert(field.name, field.value);
  const unsigned status = response.status;
  if (status >= 200 && status != 204 && status != 304) message.body() = std::move(response.body);
  message.keep_alive(keepAlive);
  message.prepare_payload();
  return message;
}

// The event names a stream asked for: the "events" query parameter, names
// separated by ",", a resource URI (starting with "/") standing for its event
// name. Empty: every event.
std::set<std::string> RequestedEvents(std::string_view query) {
  std::set<std::string> names;
  std::string list;
  if (!FindQueryParameter(query, "events", list)) return names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma - start);
    if (!name.empty()) names.insert(name.front() == '/' ? EventNameForResource(name) : name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

// One connection's requests, one at a time (keep-alive), until it closes or
// becomes an event stream.
class HttpSession : public Stoppable, public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(const Server& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)) {}
  ~HttpSession() { server_->slots.Remove(*this); }

  void Run() {
    server_->slots.AddPending(*this);  // may close an older pending connection
    ReadHead();
  }

  void Evict() override { CloseNow(); }

  void Shutdown(bool final) override {
    keepAlive_ = false;
    switch (state_) {
      case State::ReadingHead:
      case State::Lingering:
        return CloseNow();
      case State::Handling:
        if (final) Answer(LocalResponse::Error(503, "The host is stopping"));
        return;
      case State::ReadingBody:
      case State::Writing:
        if (final) CloseNow();
        return;
    }
  }

 private:
  enum class State { ReadingHead, ReadingBody, Handling, Writing, Lingering };

  const HttpServerOptions& Options() const { return server_->options; }

  void ReadHead() {
    state_ = State::ReadingHead;
    answered_ = false;
    server_->slots.SetIdle(*this, true);
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(Options().headerLimit));
    parser_->body_limit(Options().bodyLimit);
    // Until a request of it is authenticated a connection has a short while
    // to send a head: idle sockets cannot hold the slots for long.
    stream_.expires_after(authenticated_ ? Options().readTimeout
                                         : std::min(Options().headTimeout, Options().readTimeout));
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, size_t) { self->OnHead(error); });
  }

  // An answer to a request that cannot be read on: the connection closes.
  void AnswerReadError(const beast::error_code& error) {
    if (error == http::error::body_limit) {
      WriteAndClose(LocalResponse::Error(413, "The request body is larger than " +
                                                  std::to_string(Options().bodyLimit) + " bytes"));
    } else if (error == http::error::header_limit) {
      WriteAndClose(LocalResponse::Error(431, "The request head is too large"));
    } else if (error.category() == beast::error_code(http::error::bad_target).category() &&
               error != http::error::end_of_stream && error != http::error::partial_message) {
      WriteAndClose(LocalResponse::Error(400, "Malformed HTTP request: " + error.message()));
    } else {
      CloseNow();
    }
  }

  void OnHead(const beast::error_code& error) {
    if (error) return AnswerReadError(error);
    state_ = State::ReadingBody;
    auto& message = parser_->get();
    version_ = message.version();
    LocalRequest head = ToLocalRequest(message);
    Admission admission = server_->service.Admit(head);
    if (admission.refusal) return WriteAndClose(std::move(*admission.refusal));
    const std::string_view path = head.Path();
    if (Options().events != nullptr && admission.authenticated) {
      const bool webSocket = websocket::is_upgrade(message) && path == Options().webSocketPath;
      const bool eventStream =
          !webSocket && message.method() == http::verb::get && path == Options().eventStreamPath;
      if (webSocket || eventStream) {
        if (server_->stopping)
          return WriteAndClose(LocalResponse::Error(503, "The host is stopping"));
        if (server_->slots.Count(SlotKind::Stream) >= Options().maxEventStreams) {
          return WriteAndClose(LocalResponse::Error(
              503, "Too many event streams: at most " + std::to_string(Options().maxEventStreams)));
        }
        if (eventStream) return HandOver(RequestedEvents(head.Query()));
        // The upgrade request has no body; read it to its end before upgrading.
        return http::async_read(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code e, size_t) {
                                  if (e) return self->CloseNow();
                                  self->HandOver(self->parser_->release());
                                });
      }
    }
    if (admission.authenticated && !authenticated_) {
      if (!server_->slots.Promote(*this)) {
        return WriteAndClose(LocalResponse::Error(
            503,
            "Too many connections: all " + std::to_string(Options().maxConnections) + " are busy"));
      }
      authenticated_ = true;
    } else if (authenticated_) {
      server_->slots.SetIdle(*this, false);
    }
    const auto expect = message.find(http::field::expect);
    if (expect != message.end() && beast::iequals(expect->value(), "100-continue")) {
      auto proceed =
          std::make_shared<http::response<http::empty_body>>(http::status::continue_, version_);
      http::async_write(stream_, *proceed,
                        [self = shared_from_this(), proceed](beast::error_code e, size_t) {
                          if (e) return self->CloseNow();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  // The connection becomes an event stream; this session ends.
  void HandOver(std::set<std::string> names) {
    server_->slots.Remove(*this);
    StartEventStream(server_, std::move(stream_), std::move(names));
  }
  void HandOver(http::request<http::string_body> upgrade) {
    server_->slots.Remove(*this);
    StartWebSocket(server_, std::move(stream_), std::move(upgrade));
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, size_t) {
                       if (error) return self->AnswerReadError(error);
                       self->Dispatch();
                     });
  }

  void Dispatch() {
    const http::request<http::string_body> message = parser_->release();
    keepAlive_ = keepAlive_ && message.keep_alive() && !server_->stopping;
    const bool head = message.method() == http::verb::head;
    state_ = State::Handling;
    stream_.expires_never();  // the answer may take as long as the plug-in needs
    server_->service.Handle(ToLocalRequest(message), [self = shared_from_this(),
                                                      head](LocalResponse response) {
      if (head) response.body.clear();
      asio::post(self->stream_.get_executor(), [self, response = std::move(response)]() mutable {
        self->Answer(std::move(response));
      });
    });
  }

  // The one answer to the request being handled: the service's, or 503 when
  // the host stops first.
  void Answer(LocalResponse response) {
    if (answered_ || state_ != State::Handling) return;
    answered_ = true;
    Write(std::move(response));
  }

  void Write(LocalResponse response) {
    state_ = State::Writing;
    auto message = std::make_shared<http::response<http::string_body>>(
        ToMessage(std::move(response), version_, keepAlive_));
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, *message,
                      [self = shared_from_this(), message](beast::error_code error, size_t) {
                        if (error) return self->CloseNow();
                        if (self->keepAlive_) return self->ReadHead();
                        if (self->server_->stopping) return self->CloseNow();
                        self->Linger();
                      });
  }

  void WriteAndClose(LocalResponse response) {
    keepAlive_ = false;
    Write(std::move(response));
  }

  // After an answer that closes the connection: stop sending, and read what
  // the client still sends for a moment, so that closing does not reset the
  // connection before the client has read the answer.
  void Linger() {
    state_ = State::Lingering;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLingerTime);
    Drain();
  }

  void Drain() {
    stream_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](beast::error_code error, size_t) {
                              if (error) return self->CloseNow();
                              self->Drain();
                            });
  }

  void CloseNow() { CloseConnection(server_, *this, stream_); }

  Server server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  State state_ = State::ReadingHead;
  unsigned version_ = 11;
  bool keepAlive_ = true;
  bool authenticated_ = false;  // holds a request slot
  bool answered_ = false;
  char discard_[4096];
};

void Accept(const Server& server) {
  server->acceptor.async_accept([server](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !server->acceptor.is_open()) return;
    if (error) {
      // Out of descriptors, most likely: pause rather than spin.
      server->acceptPause.expires_after(kAcceptPause);
      server->acceptPause.async_wait([server](beast::error_code e) {
        if (!e) Accept(server);
      });
      return;
    }
    std::make_shared<HttpSession>(server, std::move(socket))->Run();
    Accept(server);
  });
}

// Tells every connection the server stops (see Stoppable).
void ShutdownConnections(const Server& server, bool final) {
  asio::post(server->context, [server, final] {
    server->stopping = true;
    beast::error_code ignored;
    server->acceptor.close(ignored);
    server->acceptPause.cancel();
    for (SlotHolder* holder : server->slots.Holders()) {
      static_cast<Stoppable*>(holder)->Shutdown(final);
    }
  });
}

// Until no connection is left or `limit` has passed.
void AwaitConnections(const Server& server, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (server->slots.Total() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

HttpServer::HttpServer(HttpServerOptions options, HttpService& service)
    : impl_(std::make_unique<Impl>(std::move(options), service)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(std::string& error) {
  beast::error_code code;
  const auto address = asio::ip::make_address(impl_->options.address, code);
  if (code) {
    error = "Bad listening address " + impl_->options.address + ": " + code.message();
    return false;
  }
  const tcp::endpoint endpoint(address, impl_->options.port);
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), code);
  if (!code) acceptor.set_option(asio::socket_base::reuse_address(true), code);
  if (!code) acceptor.bind(endpoint, code);
  if (!code) acceptor.listen(asio::socket_base::max_listen_connections, code);
  if (code) {
    error = "Cannot listen on " + impl_->options.address + ":" +
            std::to_string(impl_->options.port) + ": " + code.message();
    beast::error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  impl_->port = acceptor.local_endpoint().port();
  Accept(impl_.get());
  impl_->thread = std::thread([impl = impl_.get()] { impl->context.run(); });
  return true;
}

uint16_t HttpServer::Port() const { return impl_->port; }

void HttpServer::Stop() {
  if (!impl_->thread.joinable()) return;
  ShutdownConnections(impl_.get(), false);
  AwaitConnections(impl_.get(), impl_->options.shutdownGrace);
  if (impl_->slots.Total() > 0) {
    ShutdownConnections(impl_.get(), true);
    AwaitConnections(impl_.get(), kFinalAnswerTime);
  }
  impl_->context.stop();
  impl_->thread.join();
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
}

}  // namespace Tesk::DevHost
