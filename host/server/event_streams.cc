// The sessions of event-stream clients: Server-Sent Events and WebSocket.
// Both queue shared event frames in an OutgoingQueue bounded in bytes and
// drop a client that falls further behind.
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <vector>

#include "encoding/json_support.h"
#include "server/event_hub.h"
#include "server/event_names.h"
#include "server/outgoing_queue.h"
#include "server/server_state.h"

namespace Tesk::DevHost {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr std::chrono::seconds kHeartbeat{15};
constexpr std::chrono::seconds kWriteTimeout{30};
// How long a closing WebSocket client has to take the close frame.
constexpr std::chrono::seconds kCloseTime{2};
constexpr size_t kMaxCommandBytes = 64u << 10;
constexpr size_t kMaxNameBytes = 512;

SharedText Share(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

std::string MegabytesText(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

class SseSession : public EventListener,
                   public Stoppable,
                   public std::enable_shared_from_this<SseSession> {
 public:
  SseSession(const Server& server, beast::tcp_stream stream, std::set<std::string> names)
      : server_(server),
        stream_(std::move(stream)),
        peer_(PeerName(stream_)),
        names_(std::move(names)),
        queue_(server->options.maxQueuedBytes),
        heartbeat_(stream_.get_executor()) {}

  ~SseSession() override { server_->slots.Remove(*this); }

  void Run() {
    if (!server_->slots.AddStream(*this)) return Close();
    server_->options.events->Attach(shared_from_this());
    queue_.Push(
        Share("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
              "Connection: keep-alive\r\nX-Accel-Buffering: no\r\nServer: ktx-host\r\n\r\n"
              ": connected\n\n"));
    WriteNext();
    WatchForClose();
    Heartbeat();
  }

  void OnEvent(const std::shared_ptr<const HubEvent>& event) override {
    if (!names_.empty() && names_.count(event->name) == 0) return;
    asio::post(stream_.get_executor(),
               [self = shared_from_this(), event] { self->Enqueue(event->SseFrame()); });
  }

  void Evict() override { Close(); }
  void Shutdown(bool) override { Close(); }

 private:
  void Enqueue(SharedText frame) {
    if (closed_) return;
    if (!queue_.Push(std::move(frame))) {
      server_->Log("Event stream client " + peer_ + " fell more than " +
                   MegabytesText(queue_.Limit()) + " behind: disconnected");
      return Close();
    }
    WriteNext();
  }

  void WriteNext() {
    if (closed_ || queue_.Writing() || queue_.Empty()) return;
    stream_.expires_after(kWriteTimeout);
    SharedText frame = queue_.Front();
    asio::async_write(stream_, asio::buffer(*frame),
                      [self = shared_from_this(), frame](beast::error_code error, size_t) {
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
      self->Enqueue(Share(": keep-alive\n\n"));
      self->Heartbeat();
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    server_->options.events->Detach(this);
    heartbeat_.cancel();
    CloseConnection(server_, *this, stream_);
  }

  Server server_;
  beast::tcp_stream stream_;
  std::string peer_;
  std::set<std::string> names_;
  OutgoingQueue queue_;
  asio::steady_timer heartbeat_;
  char discard_[512];
  bool closed_ = false;
};

// A WebSocket client: {"subscribe": name or [names]} and {"unsubscribe":
// ...} commands, events as {"id","name","payload"} text frames. A command is
// read only once the answer to the one before has been written, so a client
// that sends without reading cannot make answers pile up.
class WebSocketSession : public EventListener,
                         public Stoppable,
                         public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(const Server& server, beast::tcp_stream stream)
      : server_(server),
        socket_(std::move(stream)),
        peer_(PeerName(beast::get_lowest_layer(socket_))),
        queue_(server->options.maxQueuedBytes),
        closeTimer_(socket_.get_executor()) {}

  ~WebSocketSession() override {
    server_->slots.Remove(*this);
    server_->options.events->Detach(this);
  }

  void Run(http::request<http::string_body> upgrade) {
    if (!server_->slots.AddStream(*this)) return CloseNow();
    beast::get_lowest_layer(socket_).expires_never();
    socket_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    socket_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "ktx-host"); }));
    socket_.read_message_max(kMaxCommandBytes);
    socket_.async_accept(upgrade, [self = shared_from_this()](beast::error_code error) {
      if (error) return self->CloseNow();
      if (self->closing_) return;
      self->open_ = true;
      self->server_->options.events->Attach(self);
      self->Read();
    });
  }

  void OnEvent(const std::shared_ptr<const HubEvent>& event) override {
    asio::post(socket_.get_executor(), [self = shared_from_this(), event] {
      if (self->names_.count(event->name) == 0 && self->names_.count("*") == 0) return;
      self->Enqueue(event->WebSocketFrame(), false);
    });
  }

  void Evict() override { CloseNow(); }
  void Shutdown(bool final) override {
    if (final || !open_) return CloseNow();
    CloseWith(websocket::close_code::going_away);
  }

 private:
  void Read() {
    socket_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, size_t) {
      if (error) return self->CloseNow();
      const std::string text = beast::buffers_to_string(self->buffer_.data());
      self->buffer_.consume(self->buffer_.size());
      // The next command is read when this answer has been written.
      self->Enqueue(Share(self->Command(text)), true);
    });
  }

  // Answers with what the command changed: {"subscribed": [names added],
  // "unsubscribed": [names removed]}, or {"error": ...} and nothing changed.
  std::string Command(const std::string& text) {
    rapidjson::Document command;
    std::string error;
    if (!ParseJson(text, command, error)) return ErrorAnswer(error);
    if (!command.IsObject()) return ErrorAnswer("A command is a JSON object");
    std::vector<std::string> added;
    std::vector<std::string> removed;
    bool understood = false;
    for (const char* verb : {"subscribe", "unsubscribe"}) {
      const auto member = command.FindMember(verb);
      if (member == command.MemberEnd()) continue;
      if (!ReadNames(member->value, verb[0] == 's' ? added : removed, error)) {
        return ErrorAnswer(error);
      }
      understood = true;
    }
    if (!understood) {
      return ErrorAnswer(R"(Send {"subscribe": [names]} or {"unsubscribe": [names]})");
    }
    std::erase_if(added, [&](const std::string& name) { return names_.count(name) != 0; });
    std::sort(added.begin(), added.end());
    added.erase(std::unique(added.begin(), added.end()), added.end());
    const size_t limit = server_->options.maxSubscriptions;
    if (names_.size() + added.size() > limit) {
      return ErrorAnswer("At most " + std::to_string(limit) + " event names per client (" +
                         std::to_string(names_.size()) + " held)");
    }
    names_.insert(added.begin(), added.end());
    std::erase_if(removed, [&](const std::string& name) { return names_.erase(name) == 0; });
    std::string answer;
    if (command.HasMember("subscribe")) answer = "\"subscribed\":" + NameList(added);
    if (command.HasMember("unsubscribe")) {
      answer += (answer.empty() ? "" : ",") + std::string("\"unsubscribed\":") + NameList(removed);
    }
    return "{" + answer + "}";
  }

  static std::string ErrorAnswer(std::string_view message) {
    return "{\"error\":" + JsonQuote(message) + "}";
  }

  static std::string NameList(const std::vector<std::string>& names) {
    std::string list = "[";
    for (const std::string& name : names) list += (list.size() > 1 ? "," : "") + JsonQuote(name);
    return list + "]";
  }

  // A name or an array of names; a resource URI (starting with "/") stands
  // for its event name.
  static bool ReadNames(const rapidjson::Value& value, std::vector<std::string>& names,
                        std::string& error) {
    const auto take = [&](const rapidjson::Value& item) {
      if (!item.IsString()) {
        error = "Event names are strings";
        return false;
      }
      std::string name(item.GetString(), item.GetStringLength());
      if (name.size() > kMaxNameBytes) {
        error = "An event name has at most " + std::to_string(kMaxNameBytes) + " bytes";
        return false;
      }
      if (!name.empty() && name.front() == '/') name = EventNameForResource(name);
      names.push_back(std::move(name));
      return true;
    };
    if (!value.IsArray()) return take(value);
    for (const auto& item : value.GetArray()) {
      if (!take(item)) return false;
    }
    return true;
  }

  void Enqueue(SharedText frame, bool reply) {
    if (closing_) return;
    if (!queue_.Push(std::move(frame), reply)) {
      server_->Log("WebSocket client " + peer_ + " fell more than " +
                   MegabytesText(queue_.Limit()) + " behind: closed (1008)");
      return CloseWith(websocket::close_code::policy_error);
    }
    WriteNext();
  }

  void WriteNext() {
    if (closing_ || queue_.Writing() || queue_.Empty()) return;
    socket_.text(true);
    SharedText frame = queue_.Front();
    socket_.async_write(asio::buffer(*frame),
                        [self = shared_from_this(), frame](beast::error_code error, size_t) {
                          const bool reply = self->queue_.Done();
                          if (error) return self->CloseNow();
                          if (reply && !self->closing_) self->Read();
                          self->WriteNext();
                        });
  }

  // Sends a close frame (after the frame being written) and closes the
  // connection when the client answers it or kCloseTime has passed.
  void CloseWith(websocket::close_code code) {
    if (closing_) return;
    closing_ = true;
    server_->options.events->Detach(this);
    closeTimer_.expires_after(kCloseTime);
    closeTimer_.async_wait([self = shared_from_this()](beast::error_code) { self->CloseNow(); });
    socket_.async_close(code, [self = shared_from_this()](beast::error_code) { self->CloseNow(); });
  }

  void CloseNow() {
    closing_ = true;
    closeTimer_.cancel();
    CloseConnection(server_, *this, beast::get_lowest_layer(socket_));
  }

  Server server_;
  websocket::stream<beast::tcp_stream> socket_;
  std::string peer_;
  beast::flat_buffer buffer_;
  std::set<std::string> names_;
  OutgoingQueue queue_;
  asio::steady_timer closeTimer_;
  bool open_ = false;  // the handshake is done
  bool closing_ = false;
};

}  // namespace

void StartEventStream(const Server& server, beast::tcp_stream stream, std::set<std::string> names) {
  stream.expires_never();
  std::make_shared<SseSession>(server, std::move(stream), std::move(names))->Run();
}

void StartWebSocket(const Server& server, beast::tcp_stream stream,
                    http::request<http::string_body> upgrade) {
  std::make_shared<WebSocketSession>(server, std::move(stream))->Run(std::move(upgrade));
}

}  // namespace Tesk::DevHost
