#pragma once
// Small pieces of disk work done on a thread of their own, so that the one
// who asks (the tick) never waits for the disk: a sync can wait for the
// file system's journal, and a buffered write can be held by the kernel
// for up to 200 ms when the machine has many dirty pages.
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace kavon {

class BackgroundWork {
 public:
  // Does what still waits, then ends the thread.
  ~BackgroundWork();
  // Returns at once. Work posted under a key replaces the work waiting
  // under that key that has not begun: only the newest is done.
  void Post(const std::string& key, std::function<void()> work);
  // Returns when everything posted so far is done.
  void Flush();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::map<std::string, std::function<void()>> pending_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;  // started at the first post
};

}  // namespace kavon
