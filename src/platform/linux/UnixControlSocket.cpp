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
// A client that has not sent its line by then is dropped.
constexpr auto kRequestTimeout = std::chrono::seconds(2);
constexpr int kMaxConnections = 16;

bool Address(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Writes all of text, waiting at most a moment for a slow reader.
void SendAll(int fd, const std::string& text) {
  size_t done = 0;
  for (int tries = 0; done < text.size() && tries < 50; ++tries) {
    const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 10);
  }
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
    unlink(path.c_str());
    const mode_t old = umask(0177);
    const int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, kMaxConnections) != 0) {
      const std::string why = path + ": " + std::strerror(errno);
      close(fd);
      return why;
    }
    fd_ = fd;
    path_ = path;
    return {};
  }

  void Poll(const std::function<std::string(const std::string&)>& handle) override {
    if (fd_ < 0) return;
    for (int i = 0; i < kMaxConnections && static_cast<int>(clients_.size()) < kMaxConnections; ++i) {
      const int c = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c < 0) break;
      clients_.push_back({c, {}, Clock::now()});
    }
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (Serve(*it, handle)) {
        close(it->fd);
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
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
    std::string buffer;
    Clock::time_point since;
  };

  // True when the client is done with (answered or dropped).
  static bool Serve(Client& c, const std::function<std::string(const std::string&)>& handle) {
    char buf[1024];
    for (;;) {
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n > 0) {
        c.buffer.append(buf, static_cast<size_t>(n));
        if (c.buffer.size() > kMaxControlRequest) break;
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;  // closed: what came is the request
      if (c.buffer.find('\n') == std::string::npos) return Clock::now() - c.since > kRequestTimeout;
      break;
    }
    if (c.buffer.size() > kMaxControlRequest) {
      SendAll(c.fd, "ERROR request too long\n");
      return true;
    }
    const auto end = c.buffer.find('\n');
    SendAll(c.fd, handle(c.buffer.substr(0, end)));
    return true;
  }

  int fd_ = -1;
  std::string path_;
  std::vector<Client> clients_;
};

}  // namespace

std::unique_ptr<ControlServer> MakeControlServer() { return std::make_unique<UnixControlServer>(); }

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
