#include "app/HttpEndpoint.h"

#include <sys/socket.h>

#include <httplib.h>

#include <thread>

namespace kavon {
namespace {

// A handful of threads answer every client; the rest wait in the queue. A
// silent client holds its thread at most the time-out; one that trickles
// its request holds it longer (the time-out is per read): the endpoint is
// for a trusted network. The tick never waits for any of them.
constexpr int kThreads = 4;
constexpr int kTimeoutSeconds = 2;

class HttplibEndpoint : public HttpEndpoint {
 public:
  explicit HttplibEndpoint(const MetricsBoard& board) : board_(board) {}
  ~HttplibEndpoint() override { Stop(); }

  std::string Listen(const ListenAddress& address) override {
    server_.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // The library's default also shares the port (SO_REUSEPORT): a second
    // kavon, or any program, on the same address would then silently get
    // half the scrapes. Only a restart's lingering connections may be reused.
    server_.set_socket_options([](socket_t sock) {
      const int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_.set_read_timeout(kTimeoutSeconds, 0);
    server_.set_write_timeout(kTimeoutSeconds, 0);
    server_.set_keep_alive_timeout(kTimeoutSeconds);
    server_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      Serve(res, RenderMetrics, "text/plain; version=0.0.4; charset=utf-8");
    });
    server_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      Serve(res, RenderStatusPage, "text/html; charset=utf-8");
    });
    server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::to_string(res.status) + " (only GET /metrics and GET /)\n", "text/plain");
    });
    if (!server_.bind_to_port(address.host, address.port)) {
      return "cannot listen on " + address.host + ":" + std::to_string(address.port) +
             " (in use, not an address of this machine, or not allowed)";
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    return {};
  }

  void Stop() override {
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
  }

 private:
  // The text is made here, on the endpoint's thread, from the tick's copy.
  void Serve(httplib::Response& res, std::string (*render)(const MetricsSnapshot&), const char* type) {
    const auto snapshot = board_.Latest();
    if (!snapshot) {
      res.status = 503;
      res.set_content("kavon is starting\n", "text/plain");
      return;
    }
    res.set_content(render(*snapshot), type);
  }

  const MetricsBoard& board_;
  httplib::Server server_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HttpEndpoint> MakeHttpEndpoint(const MetricsBoard& board) {
  return std::make_unique<HttplibEndpoint>(board);
}

}  // namespace kavon
