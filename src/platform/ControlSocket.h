#pragma once
// The local socket a running kavon answers requests on: one line per
// connection, answered, then closed. Serving never waits: Poll handles
// what has arrived, from the tick. The Linux back end is a Unix socket
// with permissions 0600; the Windows one a named pipe only its user may
// open. A client gives up after 5 s.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavon::platform {

class ControlServer {
 public:
  virtual ~ControlServer() = default;
  // "" when listening at path, else why.
  virtual std::string Listen(const std::string& path) = 0;
  // Serves every complete request that has arrived with handle's answer.
  virtual void Poll(const std::function<std::string(const std::string& request)>& handle) = 0;
  virtual void Close() = 0;
};

std::unique_ptr<ControlServer> MakeControlServer();

// Sends one request to the kavon listening at path: its answer, or nullopt
// with why (nobody listens, no answer in time).
std::optional<std::string> SendControlRequest(const std::string& path, const std::string& request, std::string* why);

// What a person would look for: the socket's path on Linux, the pipe's
// name on Windows (the path only names it there).
std::string ControlEndpointName(const std::string& path);

// Longest request line a server takes.
inline constexpr size_t kMaxControlRequest = 4096;

}  // namespace kavon::platform
