#pragma once
// The optional HTTP endpoint (HttpListen=host:port): GET /metrics (the
// Prometheus text) and GET / (the status page), nothing else, read-only.
// It runs on threads of its own and renders what the tick last published on
// the board; it never touches the application's state.
#include <memory>
#include <optional>
#include <string>

#include "app/Metrics.h"

namespace kavon {

struct ListenAddress {
  std::string host;
  int port = 0;
};

// "127.0.0.1:9723", "[::1]:9723", "0.0.0.0:9723"; std::nullopt and why for
// anything else.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string* why);

class HttpEndpoint {
 public:
  virtual ~HttpEndpoint() = default;
  // "" once it listens, else why it cannot (kavon runs on without it).
  virtual std::string Listen(const ListenAddress& address) = 0;
  virtual void Stop() = 0;
};

// nullptr where this build has no HTTP server.
std::unique_ptr<HttpEndpoint> MakeHttpEndpoint(const MetricsBoard& board);

}  // namespace kavon
