#include "http_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <atomic>
#include <deque>
#include <set>
#include <thread>

#include "event_hub.h"
#include "event_names.h"
#include "json_support.h"

namespace Tesk::DevHost {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// Destroying the context destroys the sessions its pending handlers hold,
// which still read the members declared before it.
struct HttpServer::Impl {
  Impl(HttpServerOptions o, HttpService& s) : options(std::move(o)), service(s) {}

  HttpServerOptions options;
  HttpService& service;
  std::atomic<size_t> connections{0};
  uint16_t port = 0;
  asio::io_context context{1};
  tcp::acceptor acceptor{context};
  std::thread thread;
};

namespace {

using Server = HttpServer::Impl*;

constexpr std::chrono::seconds kHeartbeat{15};
constexpr std::chrono::seconds kWriteTimeout{30};
constexpr std::chrono::seconds kLingerTime{2};

// Counts a connection for as long as it lives.
class ConnectionCount {
 public:
  explicit ConnectionCount(const Server& server) : server_(server) { ++server_->connections; }
  ~ConnectionCount() { --server_->connections; }
  ConnectionCount(const ConnectionCount&) = delete;
  ConnectionCount& operator=(const ConnectionCount&) = delete;

 private:
  Server server_;
};

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

std::string SseLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

// Text frames queued for one client, written one at a time; a client that
// falls kMaxQueued behind is dropped rather than held in memory.
class OutgoingQueue {
 public:
  explicit OutgoingQueue(size_t limit) : limit_(limit) {}
  // False when the queue is full.
  bool Push(std::string text) {
    if (queue_.size() >= limit_) return false;
    queue_.push_back(std::move(text));
    return true;
  }
  [[nodiscard]] bool Writing() const { return writing_; }
  [[nodiscard]] bool Empty() const { return queue_.empty(); }
  std::string& Front() {
    writing_ = true;
    return queue_.front();
  }
  void Done() {
    queue_.pop_front();
    writing_ = false;
  }

 private:
  size_t limit_;
  std::deque<std::string> queue_;
  bool writing_ = false;
};

class SseSession : public EventListener, public std::enable_shared_from_this<SseSession> {
 public:
  SseSession(const Server& server, beast::tcp_stream stream, std::set<std::string> names)
      : server_(server),
        count_(server),
        stream_(std::move(stream)),
        names_(std::move(names)),
        queue_(server->options.maxQueuedEvents),
        heartbeat_(stream_.get_executor()) {}

  void Run() {
    server_->options.events->Attach(shared_from_this());
    queue_.Push(
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "Connection: keep-alive\r\nX-Accel-Buffering: no\r\nServer: ktx-host\r\n\r\n"
        ": connected\n\n");
    WriteNext();
    WatchForClose();
    Heartbeat();
  }

  void OnEvent(const std::shared_ptr<const HubEvent>& event) override {
    asio::post(stream_.get_executor(), [self = shared_from_this(), event] {
      if (!self->names_.empty() && self->names_.count(event->name) == 0) return;
      self->Enqueue("id: " + std::to_string(event->id) + "\nevent: " + SseLine(event->name) +
                    "\ndata: " + SseLine(event->payload.empty() ? "null" : event->payload) +
                    "\n\n");
    });
  }

 private:
  void Enqueue(std::string text) {
    if (closed_) return;
    if (!queue_.Push(std::move(text))) return Close();
    WriteNext();
  }

  void WriteNext() {
    if (closed_ || queue_.Writing() || queue_.Empty()) return;
    stream_.expires_after(kWriteTimeout);
    asio::async_write(stream_, asio::buffer(queue_.Front()),
                      [self = shared_from_this()](beast::error_code error, size_t) {
                        self->queue_.Done();
                        if (error) return self->Close();
                        self->WriteNext();
                      });
  }

  // A stream client sends nothing: reading ends when it goes away.
  void WatchForClose() {
    stream_.socket().async_read_some(asio::buffer(discard_),
                                     [self = shared_from_this()](beast::error_code error, size_t) {
                                       if (error) return self->Close();
                                       self->WatchForClose();
                                     });
  }

  void Heartbeat() {
    heartbeat_.expires_after(kHeartbeat);
    heartbeat_.async_wait([self = shared_from_this()](beast::error_code error) {
      if (error || self->closed_) return;
      self->Enqueue(": keep-alive\n\n");
      self->Heartbeat();
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    server_->options.events->Detach(this);
    heartbeat_.cancel();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  Server server_;
  ConnectionCount count_;
  beast::tcp_stream stream_;
  std::set<std::string> names_;
  OutgoingQueue queue_;
  asio::steady_timer heartbeat_;
  char discard_[512];
  bool closed_ = false;
};

class WebSocketSession : public EventListener,
                         public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(const Server& server, beast::tcp_stream stream)
      : server_(server),
        count_(server),
        socket_(std::move(stream)),
        queue_(server->options.maxQueuedEvents) {}

  void Run(http::request<http::string_body> upgrade) {
    beast::get_lowest_layer(socket_).expires_never();
    socket_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    socket_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "ktx-host"); }));
    socket_.read_message_max(64u << 10);
    socket_.async_accept(upgrade, [self = shared_from_this()](beast::error_code error) {
      if (error) return;
      self->server_->options.events->Attach(self);
      self->attached_ = true;
      self->Read();
    });
  }

  ~WebSocketSession() override {
    if (attached_) server_->options.events->Detach(this);
  }

  void OnEvent(const std::shared_ptr<const HubEvent>& event) override {
    asio::post(socket_.get_executor(), [self = shared_from_this(), event] {
      if (self->names_.count(event->name) == 0 && self->names_.count("*") == 0) return;
      self->Enqueue(event->ToJson());
    });
  }

 private:
  void Read() {
    socket_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, size_t) {
      if (error) return self->Close();
      const std::string text = beast::buffers_to_string(self->buffer_.data());
      self->buffer_.consume(self->buffer_.size());
      self->Enqueue(self->Command(text));
      self->Read();
    });
  }

  // {"subscribe": name or [names]} and {"unsubscribe": ...}; answers with the
  // names now subscribed, or {"error": ...}.
  std::string Command(const std::string& text) {
    rapidjson::Document command;
    std::string error;
    if (!ParseJson(text, command, error)) return "{\"error\":" + JsonQuote(error) + "}";
    if (!command.IsObject()) return "{\"error\":\"A command is a JSON object\"}";
    bool understood = false;
    for (const char* verb : {"subscribe", "unsubscribe"}) {
      const auto member = command.FindMember(verb);
      if (member == command.MemberEnd()) continue;
      std::vector<std::string> names;
      if (member->value.IsString()) {
        names.emplace_back(member->value.GetString());
      } else if (member->value.IsArray()) {
        for (const auto& item : member->value.GetArray()) {
          if (!item.IsString()) return "{\"error\":\"Event names are strings\"}";
          names.emplace_back(item.GetString());
        }
      } else {
        return "{\"error\":\"Event names are strings\"}";
      }
      for (std::string& name : names) {
        if (!name.empty() && name.front() == '/') name = EventNameForResource(name);
        if (verb[0] == 's') {
          names_.insert(name);
        } else {
          names_.erase(name);
        }
      }
      understood = true;
    }
    if (!understood) {
      return "{\"error\":\"Send {\\\"subscribe\\\": [names]} or {\\\"unsubscribe\\\": [names]}\"}";
    }
    std::string answer = "{\"subscribed\":[";
    for (const std::string& name : names_) {
      if (answer.back() != '[') answer += ',';
      answer += JsonQuote(name);
    }
    return answer + "]}";
  }

  void Enqueue(std::string text) {
    if (closed_) return;
    if (!queue_.Push(std::move(text))) return Close();
    WriteNext();
  }

  void WriteNext() {
    if (closed_ || queue_.Writing() || queue_.Empty()) return;
    socket_.text(true);
    socket_.async_write(asio::buffer(queue_.Front()),
                        [self = shared_from_this()](beast::error_code error, size_t) {
                          self->queue_.Done();
                          if (error) return self->Close();
                          self->WriteNext();
                        });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    beast::error_code ignored;
    beast::get_lowest_layer(socket_).socket().close(ignored);
  }

  Server server_;
  ConnectionCount count_;
  websocket::stream<beast::tcp_stream> socket_;
  beast::flat_buffer buffer_;
  std::set<std::string> names_;
  OutgoingQueue queue_;
  bool attached_ = false;
  bool closed_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(const Server& server, tcp::socket socket)
      : server_(server), count_(server), stream_(std::move(socket)) {}

  void Run() { ReadHead(); }

  // Answers at once and closes: too many connections.
  void Refuse(LocalResponse response) { WriteAndClose(std::move(response), 11); }

 private:
  const HttpServerOptions& Options() const { return server_->options; }

  void ReadHead() {
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(Options().headerLimit));
    parser_->body_limit(Options().bodyLimit);
    stream_.expires_after(Options().readTimeout);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, size_t) { self->OnHead(error); });
  }

  // An answer to a request that cannot be read on: the connection closes.
  bool AnswerReadError(const beast::error_code& error) {
    if (error == http::error::body_limit) {
      WriteAndClose(LocalResponse::Error(413, "The request body is larger than " +
                                                  std::to_string(Options().bodyLimit) + " bytes"),
                    11);
    } else if (error == http::error::header_limit) {
      WriteAndClose(LocalResponse::Error(431, "The request head is too large"), 11);
    } else if (error.category() == beast::error_code(http::error::bad_target).category() &&
               error != http::error::end_of_stream && error != http::error::partial_message) {
      WriteAndClose(LocalResponse::Error(400, "Malformed HTTP request: " + error.message()), 11);
    } else {
      CloseNow();
    }
    return true;
  }

  void OnHead(const beast::error_code& error) {
    if (error) {
      AnswerReadError(error);
      return;
    }
    auto& message = parser_->get();
    version_ = message.version();
    LocalRequest head = ToLocalRequest(message);
    if (auto refusal = server_->service.Admit(head)) {
      WriteAndClose(std::move(*refusal), version_);
      return;
    }
    const std::string_view path = head.Path();
    if (Options().events != nullptr) {
      if (websocket::is_upgrade(message) && path == Options().webSocketPath) {
        // The upgrade request has no body; read it to its end before upgrading.
        http::async_read(
            stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code e, size_t) {
              if (e) return self->CloseNow();
              auto session =
                  std::make_shared<WebSocketSession>(self->server_, std::move(self->stream_));
              session->Run(self->parser_->release());
            });
        return;
      }
      if (message.method() == http::verb::get && path == Options().eventStreamPath) {
        stream_.expires_never();
        auto session = std::make_shared<SseSession>(server_, std::move(stream_),
                                                    RequestedEvents(head.Query()));
        session->Run();
        return;
      }
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

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, size_t) {
                       if (error) {
                         self->AnswerReadError(error);
                         return;
                       }
                       self->Dispatch();
                     });
  }

  void Dispatch() {
    const http::request<http::string_body> message = parser_->release();
    keepAlive_ = message.keep_alive();
    const bool head = message.method() == http::verb::head;
    stream_.expires_never();  // the answer may take as long as the plug-in needs
    server_->service.Handle(ToLocalRequest(message), [self = shared_from_this(),
                                                      head](LocalResponse response) {
      if (head) response.body.clear();
      asio::post(self->stream_.get_executor(), [self, response = std::move(response)]() mutable {
        self->Write(std::move(response));
      });
    });
  }

  void Write(LocalResponse response) {
    auto message = std::make_shared<http::response<http::string_body>>(
        ToMessage(std::move(response), version_, keepAlive_));
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, *message,
                      [self = shared_from_this(), message](beast::error_code error, size_t) {
                        if (error) return self->CloseNow();
                        if (!self->keepAlive_) return self->Linger();
                        self->ReadHead();
                      });
  }

  void WriteAndClose(LocalResponse response, unsigned version) {
    keepAlive_ = false;
    version_ = version;
    Write(std::move(response));
  }

  // After an answer that closes the connection: stop sending, and read what
  // the client still sends for a moment, so that closing does not reset the
  // connection before the client has read the answer.
  void Linger() {
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

  void CloseNow() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  Server server_;
  ConnectionCount count_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  unsigned version_ = 11;
  bool keepAlive_ = true;
  char discard_[4096];
};

void Accept(const Server& server) {
  server->acceptor.async_accept([server](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !server->acceptor.is_open()) return;
    if (!error) {
      auto session = std::make_shared<HttpSession>(server, std::move(socket));
      if (server->connections > server->options.maxConnections) {
        session->Refuse(LocalResponse::Error(503, "Too many connections"));
      } else {
        session->Run();
      }
    }
    Accept(server);
  });
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
  impl_->context.stop();
  impl_->thread.join();
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
}

}  // namespace Tesk::DevHost
