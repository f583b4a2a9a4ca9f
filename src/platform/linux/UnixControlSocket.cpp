#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/ControlSocket.h"

namespace kavon::platform {
namespace {

using Clock = std::chrono::steady_clock;
// A client has this long to send its line and take its answer; then it is
// dropped, so an idle or stuck client only ever costs its own place.
constexpr auto kClientDeadline = std::chrono::seconds(2);
// Clients served at once; one more is told the server is full and let go.
constexpr size_t kMaxClients = 256;

bool Address(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

class UnixControlServer : public ControlServer {
 public:
  ~UnixControlServer() override { Close(); }

  std::string Listen(const std::string& path) override {
    Close();
    sockaddr_un addr{};
    if (!Address(path, addr)) return path + ": path too long for a socket";
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return path + ": " + std::strerror(errno);
    // A socket left by a kavon that died; the instance lock says none runs.
    // Anything else of that name is not kavon's to remove: bind then fails.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());
    const mode_t old = umask(0177);
    const int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, SOMAXCONN) != 0) {
      const std::string why = path + ": " + std::strerror(errno);
      close(fd);
      return why;
    }
    fd_ = fd;
    path_ = path;
    return {};
  }

  // Every client moves on as far as it can without waiting: what it sent
  // is read, a whole line answered, the answer sent as far as the socket
  // takes it. Nothing here blocks.
  void Poll(const std::function<std::string(const std::string&)>& handle) override {
    if (fd_ < 0) return;
    AcceptAll();
    const auto now = Clock::now();
    std::erase_if(clients_, [&](Client& c) {
      const bool done = Step(c, handle) || now - c.since > kClientDeadline;
      if (done) close(c.fd);
      return done;
    });
  }

  void Close() override {
    for (const auto& c : clients_) close(c.fd);
    clients_.clear();
    if (fd_ < 0) return;
    close(fd_);
    unlink(path_.c_str());
    fd_ = -1;
  }

 private:
  struct Client {
    int fd;
    std::string buffer;  // the request as it arrives
    std::string answer;  // what is still to send, once answered
    bool answered = false;
    Clock::time_point since;
  };

  void AcceptAll() {
    for (;;) {
      const int c = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c < 0) return;
      if (clients_.size() >= kMaxClients) {
        const std::string busy = "ERROR busy: " + std::to_string(kMaxClients) + " clients are connected\n";
        send(c, busy.data(), busy.size(), MSG_NOSIGNAL);
        close(c);
        continue;
      }
      clients_.push_back({c, {}, {}, false, Clock::now()});
    }
  }

  // True when the client is done with (answered in full, or gone).
  static bool Step(Client& c, const std::function<std::string(const std::string&)>& handle) {
    if (!c.answered) {
      const int read = Read(c);
      if (read < 0) return true;
      const auto end = c.buffer.find('\n');
      const bool whole = end != std::string::npos || read == 0;  // a closed side ends the request too
      if (c.buffer.size() > kMaxControlRequest) {
        c.answer = "ERROR request too long\n";
      } else if (whole) {
        c.answer = handle(c.buffer.substr(0, end));
      } else {
        return false;
      }
      c.answered = true;
    }
    while (!c.answer.empty()) {
      const ssize_t n = send(c.fd, c.answer.data(), c.answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        c.answer.erase(0, static_cast<size_t>(n));
        continue;
      }
      return n < 0 && errno != EAGAIN && errno != EINTR;
    }
    return true;
  }

  // Reads what has arrived: 1 more may come, 0 the client closed its side,
  // -1 the connection failed.
  static int Read(Client& c) {
    char buf[1024];
    for (;;) {
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n > 0) {
        c.buffer.append(buf, static_cast<size_t>(n));
        if (c.buffer.size() > kMaxControlRequest) return 1;
        continue;
      }
      if (n == 0) return 0;
      return errno == EAGAIN || errno == EINTR ? 1 : -1;
    }
  }

  int fd_ = -1;
  std::string path_;
  std::vector<Client> clients_;
};

}  // namespace

std::unique_ptr<ControlServer> MakeControlServer() { return std::make_unique<UnixControlServer>(); }

std::string ControlEndpointName(const std::string& path) { return path; }

std::optional<std::string> SendControlRequest(const std::string& path, const std::string& request, std::string* why) {
  sockaddr_un addr{};
  auto fail = [why](const std::string& text) {
    if (why) *why = text;
    return std::nullopt;
  };
  if (!Address(path, addr)) return fail(path + ": path too long for a socket");
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(std::strerror(errno));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const std::string text = path + ": " + std::strerror(errno);
    close(fd);
    return fail(text);
  }
  const std::string line = request + "\n";
  send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  std::string answer;
  const auto until = Clock::now() + std::chrono::seconds(5);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
      close(fd);
      return fail(path + ": no answer");
    }
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

}  // namespace kavon::platform
