// ktx-host as a process against clients that misbehave: readers that never
// read, idle sockets that never send a request, pages of other origins,
// files that lead elsewhere, and a stop with work in flight.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "encoding/json_support.h"
#include "host/support/host_process.h"

namespace Tesk::Testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using DevHost::IncomingResponse;

constexpr char kTestPlugin[] = "ktx-be-host-test-routes.so";

// A resource change of about `bytes` bytes: two events of that size, one
// under the resource's name and one under OnJsonApiEvent.
std::string LargeResource(size_t bytes, int round) {
  return "{\"round\":" + std::to_string(round) + ",\"text\":\"" + std::string(bytes, 'x') + "\"}";
}

// A loopback port that accepts connections and never answers.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentListener() { close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  [[nodiscard]] uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(HostUnderLoad, ClientsThatNeverReadLeaveMemoryBoundedAndOthersServed) {
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3", "--body-limit", "2000000", BuiltFile(kTestPlugin)}))
      << host.Output();
  // Ten event streams and a WebSocket client subscribed to everything, none
  // of which ever reads; a reader that keeps up.
  std::vector<std::unique_ptr<RawConnection>> stalled;
  for (int i = 0; i < 10; ++i) stalled.push_back(OpenEventStream(host, ""));
  RawConnection socket(host.Port());
  ASSERT_TRUE(socket.UpgradeToWebSocket("/ws", host.Token())) << socket.Received();
  ASSERT_TRUE(socket.SendWebSocketText(R"({"subscribe":"*"})"));
  auto reader = OpenEventStream(host, "&events=OnJsonApiEvent_test_big");

  const uint64_t before = host.ResidentBytes();
  constexpr int kRounds = 40;  // 80 events of 1 MB: 880 MB if each client kept its own
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_LT(
        host.Send("PUT", "/host/v1/resources/test/big", {}, LargeResource(1 << 20, round)).status,
        300u);
    reader->ReadAvailable();
    reader->KeepTail(4u << 20);
  }
  const uint64_t after = host.ResidentBytes();
  // Every client is bounded (8 MiB) and holds shared frames.
  EXPECT_LT(after, before + (64u << 20)) << "before " << before << ", after " << after;
  EXPECT_TRUE(reader->ReadUntil("\"round\":" + std::to_string(kRounds - 1), 60s));
  EXPECT_EQ(host.Send("GET", "/host-test/v1/items/x").status, 200u);
  for (const auto& stream : stalled) EXPECT_TRUE(stream->WaitForClose(30s));
  const std::string output = host.Output();
  EXPECT_NE(output.find("behind: disconnected"), std::string::npos) << output;
  EXPECT_NE(output.find("behind: closed (1008)"), std::string::npos) << output;
  EXPECT_EQ(host.Stop(), 0) << host.Output();
}

TEST(HostUnderLoad, WebSocketCommandsWaitForTheirAnswers) {
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3", BuiltFile(kTestPlugin)})) << host.Output();
  RawConnection socket(host.Port());
  ASSERT_TRUE(socket.UpgradeToWebSocket("/ws", host.Token()));
  ASSERT_TRUE(socket.SendWebSocketText(R"({"subscribe":["a","b"]})"));
  EXPECT_EQ(socket.ReadWebSocketText(30s), R"({"subscribed":["a","b"]})");
  // The answer says what changed.
  ASSERT_TRUE(socket.SendWebSocketText(R"({"subscribe":["b","c"],"unsubscribe":["a","z"]})"));
  EXPECT_EQ(socket.ReadWebSocketText(30s), R"({"subscribed":["c"],"unsubscribed":["a"]})");
  std::string many = R"({"subscribe":[)";
  for (int i = 0; i < 300; ++i) many += (i > 0 ? ",\"n" : "\"n") + std::to_string(i) + "\"";
  ASSERT_TRUE(socket.SendWebSocketText(many + "]}"));
  EXPECT_EQ(socket.ReadWebSocketText(30s),
            R"x({"error":"At most 256 event names per client (2 held)"})x");

  // A client that sends without reading: once its answers fill the socket
  // buffers the host reads no further, so sending soon stalls.
  RawConnection flood(host.Port());
  ASSERT_TRUE(flood.UpgradeToWebSocket("/ws", host.Token()));
  const uint64_t before = host.ResidentBytes();
  std::string names;
  for (int i = 0; i < 250; ++i) {
    names += (i > 0 ? ",\"" : "\"") + std::to_string(i) + std::string(200, 'n') + "\"";
  }
  const std::string commands[] = {R"({"subscribe":[)" + names + "]}",
                                  R"({"unsubscribe":[)" + names + "]}"};
  size_t sent = 0;
  for (int i = 0; sent < (256u << 20) && flood.SendWebSocketTextWithin(commands[i % 2], 2s); ++i) {
    sent += commands[i % 2].size();
  }
  EXPECT_LT(sent, 256u << 20);
  EXPECT_LT(host.ResidentBytes(), before + (64u << 20));
  EXPECT_EQ(host.Send("GET", "/host-test/v1/items/x").status, 200u);
  EXPECT_EQ(host.Stop(), 0) << host.Output();
}

TEST(HostUnderLoad, IdleSocketsDoNotKeepAnAuthenticatedRequestWaiting) {
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3", BuiltFile(kTestPlugin)})) << host.Output();
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(std::make_unique<RawConnection>(host.Port()));
    ASSERT_TRUE(idle.back()->Connected());
  }
  std::this_thread::sleep_for(200ms);  // every one accepted
  const auto start = Clock::now();
  const IncomingResponse answer = host.Send("GET", "/host-test/v1/items/x");
  const auto took = Clock::now() - start;
  EXPECT_EQ(answer.status, 200u) << answer.body;
  EXPECT_LT(took, 2500ms);
  // None of them holds a slot past the deadline for a first request head.
  for (const auto& socket : idle) EXPECT_TRUE(socket->WaitForClose(30s));
  EXPECT_EQ(host.Stop(), 0) << host.Output();
}

TEST(HostUnderLoad, StopAnswersRequestsInFlightAndClosesWebSockets) {
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3", BuiltFile(kTestPlugin)})) << host.Output();
  const SilentListener silent;
  ASSERT_NE(silent.Port(), 0);
  RawConnection socket(host.Port());
  ASSERT_TRUE(socket.UpgradeToWebSocket("/ws", host.Token()));
  auto inFlight = std::async(std::launch::async, [&] {
    return host.Send(
        "POST", "/host-test/v1/fetch", {},
        R"({"method":"GET","url":"http://127.0.0.1:)" + std::to_string(silent.Port()) + R"(/"})");
  });
  std::this_thread::sleep_for(500ms);  // the fetch is under way
  EXPECT_EQ(host.Stop(), 0) << host.Output();
  const IncomingResponse answer = inFlight.get();
  EXPECT_EQ(answer.status, 503u) << answer.body << host.Output();
  EXPECT_EQ(socket.ReadWebSocketText(10s), std::string("\x03\xE9", 2));  // close, 1001
}

// The status line and head of the answer to one raw request.
std::string RawAnswerHead(uint16_t port, const std::string& request) {
  RawConnection connection(port);
  if (!connection.SendText(request) || !connection.ReadUntil("\r\n\r\n", 30s)) {
    return "no answer: " + connection.Received();
  }
  return connection.Received().substr(0, connection.Received().find("\r\n\r\n") + 2);
}

TEST(HostFromBrowsers, RefusesForeignPagesAndFilesThatLeadElsewhere) {
  // A web folder with a script, a link to it and a FIFO under script names.
  char folder[] = "/tmp/ktx-web-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string web = folder;
  std::ofstream(web + "/app.js") << "export {};\n";
  ASSERT_EQ(symlink("app.js", (web + "/link.js").c_str()), 0);
  ASSERT_EQ(mkfifo((web + "/fifo.js").c_str(), 0600), 0);
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3", "--web-dir", web, BuiltFile(kTestPlugin)}))
      << host.Output();
  const std::string own = "127.0.0.1:" + std::to_string(host.Port());
  const std::string token = "Authorization: Bearer " + host.Token() + "\r\n";
  const std::string put = "PUT /host/v1/resources/test/origin HTTP/1.1\r\nHost: " + own + "\r\n" +
                          token + "Content-Length: 2\r\n";
  const std::string upgrade = "GET /ws HTTP/1.1\r\nHost: " + own + "\r\n" + token +
                              "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                              "Sec-WebSocket-Version: 13\r\n";
  const auto asset = [&](const std::string& name) {
    return "GET /web/" + name + " HTTP/1.1\r\nHost: " + own + "\r\n\r\n";
  };
  struct Case {
    const char* what;
    std::string request;
    const char* status;
    std::vector<std::string> lines;  // in the answer's head
  };
  const Case cases[] = {
      {"PUT from a foreign page", put + "Origin: http://evil.example\r\n\r\n{}", "403", {}},
      {"PUT from an opaque origin", put + "Origin: null\r\n\r\n{}", "403", {}},
      {"PUT from the host's own page", put + "Origin: http://" + own + "\r\n\r\n{}", "201", {}},
      {"PUT without an Origin (curl)", put + "\r\n{}", "200", {}},
      {"WebSocket from a foreign page", upgrade + "Origin: http://evil.example\r\n\r\n", "403", {}},
      {"WebSocket from the host's own page",
       upgrade + "Origin: http://" + own + "\r\n\r\n",
       "101",
       {}},
      {"two Host headers",
       "GET /host/v1/status HTTP/1.1\r\nHost: " + own + "\r\nHost: 127.0.0.1\r\n" + token + "\r\n",
       "400",
       {}},
      {"no token: one challenge per header",
       "GET /host/v1/status HTTP/1.1\r\nHost: " + own + "\r\n\r\n",
       "401",
       {"WWW-Authenticate: Bearer realm=\"ktx-host\"\r\n",
        "WWW-Authenticate: Basic realm=\"ktx-host\", charset=\"UTF-8\"\r\n"}},
      {"a script", asset("app.js"), "200", {}},
      {"a link to the script", asset("link.js"), "404", {}},
      {"a FIFO", asset("fifo.js"), "404", {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string head = RawAnswerHead(host.Port(), test.request);
    EXPECT_TRUE(head.starts_with("HTTP/1.1 " + std::string(test.status))) << head;
    for (const std::string& line : test.lines)
      EXPECT_NE(head.find(line), std::string::npos) << head;
  }
  EXPECT_EQ(host.Stop(), 0) << host.Output();
  for (const char* name : {"app.js", "link.js", "fifo.js"}) unlink((web + "/" + name).c_str());
  rmdir(folder);
}

TEST(HostProgram, ReplacesTheRunFileOfARunThatEndedAndRefusesOneThatRuns) {
  char folder[] = "/tmp/ktx-run-file-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string runFile = std::string(folder) + "/run.json";
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::ofstream(runFile) << "{\"pid\":" << gone << "}\n";

  HostProcess first;
  ASSERT_TRUE(first.Start({"--log-level", "3"}, runFile)) << first.Output();
  // The banner follows the run file.
  for (int i = 0; i < 500 && first.Output().find("Run file:") == std::string::npos; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(first.Output().find("replaced the file of a run that had ended"), std::string::npos)
      << first.Output();
  HostProcess second;
  EXPECT_FALSE(second.Start({"--log-level", "3"}, runFile));
  EXPECT_NE(second.Output().find("is running with the run file"), std::string::npos)
      << second.Output();
  EXPECT_EQ(first.Stop(), 0) << first.Output();
  rmdir(folder);
}

}  // namespace
}  // namespace Tesk::Testing
