#include "host/support/host_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "encoding/json_support.h"

namespace Tesk::Testing {
namespace {

using Clock = std::chrono::steady_clock;

// 32-bit programs may run under an emulator here: generous limits.
constexpr std::chrono::seconds kStartLimit{90};
constexpr std::chrono::seconds kStopLimit{60};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string BuiltFile(const std::string& name) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
  return path.substr(0, path.find_last_of('/') + 1) + name;
}

HostProcess::~HostProcess() {
  if (pid_ > 0) Stop();
  if (!folder_.empty()) {
    unlink(outputFile_.c_str());
    if (ownRunFile_) unlink(runFile_.c_str());
    rmdir(folder_.c_str());
  }
}

bool HostProcess::Start(const std::vector<std::string>& arguments, const std::string& runFile) {
  char folder[] = "/tmp/ktx-host-test-XXXXXX";
  if (mkdtemp(folder) == nullptr) return false;
  folder_ = folder;
  ownRunFile_ = runFile.empty();
  runFile_ = ownRunFile_ ? folder_ + "/run.json" : runFile;
  outputFile_ = folder_ + "/output.txt";
  std::vector<std::string> command = {BuiltFile("ktx-host"), "--run-file", runFile_, "--port", "0",
                                      "--mock-port",         "0"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& part : command) argv.push_back(part.data());
  argv.push_back(nullptr);
  // Tests measure the host's memory: AddressSanitizer's quarantine of freed
  // blocks (256 MB by default) would count as the host's own.
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (!std::string_view(*variable).starts_with("ASAN_OPTIONS="))
      environment.emplace_back(*variable);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                        (asan != nullptr && asan[0] != '\0' ? ":" : "") + "quarantine_size_mb=16");
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  const auto deadline = Clock::now() + kStartLimit;
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return false;
    }
    rapidjson::Document run;
    std::string error;
    if (access(runFile_.c_str(), F_OK) == 0 && DevHost::ParseJson(ReadFile(runFile_), run, error) &&
        run.IsObject() && run.HasMember("port") && run.HasMember("pid") &&
        run["pid"].GetInt() == pid_) {
      port_ = static_cast<uint16_t>(run["port"].GetUint());
      mockPort_ = static_cast<uint16_t>(run["mockPort"].GetUint());
      token_ = run["token"].GetString();
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int HostProcess::Stop() {
  if (pid_ <= 0) return exitStatus_;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + kStopLimit;
  int status = 0;
  while (Clock::now() < deadline) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return exitStatus_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return exitStatus_;
}

uint64_t HostProcess::ResidentBytes() const {
  std::istringstream status(ReadFile("/proc/" + std::to_string(pid_) + "/status"));
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stoull(line.substr(6)) * 1024;  // in kB
  }
  return 0;
}

std::string HostProcess::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::string HostProcess::Output() const { return ReadFile(outputFile_); }

DevHost::IncomingResponse HostProcess::Send(const std::string& method, const std::string& target,
                                            std::vector<DevHost::HttpField> headers,
                                            const std::string& body) const {
  DevHost::OutgoingRequest request;
  request.method = method;
  request.url = Url(target);
  bool authorized = false;
  for (const DevHost::HttpField& field : headers) {
    authorized = authorized || DevHost::EqualsIgnoringCase(field.name, "authorization");
  }
  if (!authorized) headers.push_back({"Authorization", "Bearer " + token_});
  request.headers = std::move(headers);
  request.body = body;
  request.timeoutSeconds = 60;
  return client_.Send(request);
}

RawConnection::RawConnection(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

RawConnection::~RawConnection() { Close(); }

void RawConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool RawConnection::SendText(const std::string& text) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < text.size()) {
    const ssize_t n = send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool RawConnection::ReadUntil(const std::string& marker, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (received_.find(marker) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (fd_ < 0 || left <= 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    received_.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool RawConnection::WaitForClose(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (fd_ >= 0 && Clock::now() < deadline) {
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    received_.append(buffer, static_cast<size_t>(n));
  }
  return false;
}

bool RawConnection::UpgradeToWebSocket(const std::string& target, const std::string& token) {
  return SendText("GET " + target +
                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                  "Sec-WebSocket-Version: 13\r\nAuthorization: Bearer " +
                  token + "\r\n\r\n") &&
         ReadUntil("\r\n\r\n", std::chrono::seconds(30)) && received_.starts_with("HTTP/1.1 101") &&
         (received_.clear(), true);
}

std::string RawConnection::WebSocketFrame(const std::string& text) {
  std::string frame = "\x81";
  if (text.size() < 126) {
    frame += static_cast<char>(0x80 | text.size());
  } else {
    frame += static_cast<char>(0x80 | 126);
    frame += static_cast<char>(text.size() >> 8);
    frame += static_cast<char>(text.size() & 0xFF);
  }
  const char mask[4] = {0x12, 0x34, 0x56, 0x78};
  frame.append(mask, 4);
  for (size_t i = 0; i < text.size(); ++i) frame += static_cast<char>(text[i] ^ mask[i % 4]);
  return frame;
}

bool RawConnection::SendWebSocketText(const std::string& text) {
  return SendText(WebSocketFrame(text));
}

bool RawConnection::ReadAtLeast(size_t bytes, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (received_.size() < bytes) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (fd_ < 0 || left <= 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    received_.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

void RawConnection::ReadAvailable() {
  pollfd wait{fd_, POLLIN, 0};
  while (fd_ >= 0 && poll(&wait, 1, 0) > 0) {
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    received_.append(buffer, static_cast<size_t>(n));
  }
}

bool RawConnection::SendWebSocketTextWithin(const std::string& text,
                                            std::chrono::milliseconds limit) {
  const std::string frame = WebSocketFrame(text);
  const auto deadline = Clock::now() + limit;
  size_t sent = 0;
  while (fd_ >= 0 && sent < frame.size()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd wait{fd_, POLLOUT, 0};
    if (poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n =
        send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

void RawConnection::KeepTail(size_t bytes) {
  if (received_.size() > bytes) received_.erase(0, received_.size() - bytes);
}

std::string RawConnection::ReadWebSocketText(std::chrono::milliseconds limit) {
  // Frames from the server are not masked: 2 bytes, 2 more for a length of
  // 126 to 65535, then the data.
  if (!ReadAtLeast(2, limit)) return {};
  size_t length = static_cast<uint8_t>(received_[1]) & 0x7F;
  size_t header = 2;
  if (length == 126) {
    if (!ReadAtLeast(4, limit)) return {};
    length = (static_cast<size_t>(static_cast<uint8_t>(received_[2])) << 8) |
             static_cast<uint8_t>(received_[3]);
    header = 4;
  }
  if (!ReadAtLeast(header + length, limit)) return {};
  std::string text = received_.substr(header, length);
  received_.erase(0, header + length);
  return text;
}

rapidjson::Document JsonBody(const DevHost::IncomingResponse& response) {
  rapidjson::Document document;
  std::string error;
  EXPECT_TRUE(DevHost::ParseJson(response.body, document, error)) << error << ": " << response.body;
  return document;
}

uint64_t PluginLiveBytes(const HostProcess& host) {
  const rapidjson::Document status = JsonBody(host.Send("GET", "/host/v1/status"));
  return status["memory"]["liveBytes"].GetUint64();
}

std::unique_ptr<RawConnection> OpenEventStream(const HostProcess& host, const std::string& query) {
  auto stream = std::make_unique<RawConnection>(host.Port());
  EXPECT_TRUE(stream->SendText("GET /events?token=" + host.Token() + query +
                               " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_TRUE(stream->ReadUntil(": connected\n\n", std::chrono::seconds(30))) << stream->Received();
  return stream;
}

}  // namespace Tesk::Testing
