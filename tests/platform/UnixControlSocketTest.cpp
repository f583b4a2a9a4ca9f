// The socket `kavon ctl` talks to: idle or slow clients never hold up
// another client's answer, and a full server says so.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/ControlSocket.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

int Connect(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

// What the server sent so far, without waiting.
std::string Received(int fd) {
  char buf[256];
  const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

TEST(ControlSocket, IdleClientsNeverHoldUpAnAnswer) {
  test::TempDir dir;
  const std::string path = dir.File("kavon.sock");
  auto server = platform::MakeControlServer();
  ASSERT_EQ(server->Listen(path), "");
  const auto answer = [](const std::string& r) { return "OK " + r + "\n"; };
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(Connect(path));
  const int slow = Connect(path);
  ASSERT_EQ(send(slow, "sta", 3, 0), 3);  // one part of its line now, the rest later
  server->Poll(answer);
  const int asking = Connect(path);
  ASSERT_EQ(send(asking, "status\n", 7, 0), 7);
  server->Poll(answer);  // one tick
  EXPECT_EQ(Received(asking), "OK status\n");
  ASSERT_EQ(send(slow, "tus\n", 4, 0), 4);
  server->Poll(answer);
  EXPECT_EQ(Received(slow), "OK status\n");
  // Beyond the clients it serves at once, one more is told at once.
  for (int i = 0; i < 160; ++i) idle.push_back(Connect(path));
  const int extra = Connect(path);
  server->Poll(answer);
  EXPECT_EQ(Received(extra).rfind("ERROR busy", 0), 0u);
  for (const int fd : idle) close(fd);
  for (const int fd : {slow, asking, extra}) close(fd);
}

}  // namespace
}  // namespace kavon

namespace kavon {
namespace {

// Only a socket left by a kavon that died is removed from the socket's
// place; a file of that name that someone else made stays as it is.
TEST(ControlSocket, OnlyAStaleSocketIsEverRemoved) {
  test::TempDir dir;
  const std::string path = dir.File("kavon.sock");
  test::WriteWholeFile(path, "not kavon's");
  auto server = platform::MakeControlServer();
  EXPECT_NE(server->Listen(path), "");
  EXPECT_EQ(test::ReadWholeFile(path), "not kavon's");
  std::filesystem::remove(path);
  // What a kavon that died leaves: a bound socket nobody listens on.
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(stale);
  EXPECT_EQ(server->Listen(path), "");
  const int fd = Connect(path);
  close(fd);
}

}  // namespace
}  // namespace kavon
