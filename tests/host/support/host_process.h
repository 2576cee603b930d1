// HostProcess: a ktx-host run as a separate process on free ports, for tests
// that talk to it over real HTTP. It waits for the run file, reads the port
// and token from it, and stops the host with SIGTERM.
#pragma once

#include <rapidjson/document.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/http_client.h"

namespace Tesk::Testing {

// The build's programs and libraries, beside the test program.
[[nodiscard]] std::string BuiltFile(const std::string& name);

class HostProcess {
 public:
  HostProcess() = default;
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Starts ktx-host with `arguments` plus a run file (`runFile`, or a
  // private one) and free ports; false (with its output in Output()) when it
  // did not come up in time.
  bool Start(const std::vector<std::string>& arguments, const std::string& runFile = {});
  // SIGTERM, then the exit status (-1 when it had to be killed or was killed
  // by a signal); a second call answers the same.
  int Stop();

  [[nodiscard]] pid_t Pid() const { return pid_; }
  // The host's resident memory (VmRSS), in bytes.
  [[nodiscard]] uint64_t ResidentBytes() const;
  [[nodiscard]] uint16_t Port() const { return port_; }
  [[nodiscard]] uint16_t MockPort() const { return mockPort_; }
  [[nodiscard]] const std::string& Token() const { return token_; }
  [[nodiscard]] const std::string& RunFile() const { return runFile_; }
  [[nodiscard]] std::string Url(const std::string& target) const;
  [[nodiscard]] std::string Output() const;

  // A request with the token as Bearer, unless `headers` has Authorization.
  [[nodiscard]] DevHost::IncomingResponse Send(const std::string& method, const std::string& target,
                                               std::vector<DevHost::HttpField> headers = {},
                                               const std::string& body = {}) const;

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::string folder_;
  std::string runFile_;
  bool ownRunFile_ = true;
  std::string outputFile_;
  uint16_t port_ = 0;
  uint16_t mockPort_ = 0;
  std::string token_;
  DevHost::HttpClient client_;
};

// A raw connection to 127.0.0.1, for clients that misbehave and for reading
// event streams as they come.
class RawConnection {
 public:
  explicit RawConnection(uint16_t port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  [[nodiscard]] bool Connected() const { return fd_ >= 0; }
  bool SendText(const std::string& text);
  // Reads until `marker` has arrived (true) or the time is up or the peer
  // closed (false); everything read stays in Received().
  bool ReadUntil(const std::string& marker, std::chrono::milliseconds limit);
  bool ReadAtLeast(size_t bytes, std::chrono::milliseconds limit);
  // Takes what has already arrived, without waiting.
  void ReadAvailable();
  // True when the peer closed the connection within `limit`.
  bool WaitForClose(std::chrono::milliseconds limit);
  [[nodiscard]] const std::string& Received() const { return received_; }
  // Forgets all but the last `bytes` received.
  void KeepTail(size_t bytes);
  void Close();

  // WebSocket: the upgrade handshake, one masked text frame, and the text of
  // the next frame from the server (empty when none came in time).
  bool UpgradeToWebSocket(const std::string& target, const std::string& token);
  // (texts up to 65535 bytes)
  bool SendWebSocketText(const std::string& text);
  // False when the frame could not be sent within `limit`: the host stopped
  // reading.
  bool SendWebSocketTextWithin(const std::string& text, std::chrono::milliseconds limit);
  std::string ReadWebSocketText(std::chrono::milliseconds limit);

 private:
  static std::string WebSocketFrame(const std::string& text);

  int fd_ = -1;
  std::string received_;
};

// The answer's body as JSON; a test failure when it is not JSON.
[[nodiscard]] rapidjson::Document JsonBody(const DevHost::IncomingResponse& response);

// The bytes the plug-in holds now, from the host's status.
[[nodiscard]] uint64_t PluginLiveBytes(const HostProcess& host);

// A Server-Sent Events stream of the host, opened with the token in its URL
// as a browser does; `query` adds to that URL ("&events=<name or URI>,...").
// Connected when it returns.
[[nodiscard]] std::unique_ptr<RawConnection> OpenEventStream(const HostProcess& host,
                                                             const std::string& query);

}  // namespace Tesk::Testing
