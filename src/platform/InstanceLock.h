#pragma once
// One kavon per home: held for as long as the object lives. The lock
// belongs to the program folder and is keyed by the folder's identity, not
// the spelling of its path, so a symbolic link, "..", a bind mount, another
// drive letter or a short name cannot start a second recorder on the same
// files.
#include <memory>
#include <string>

namespace kavon::platform {

class InstanceLock {
 public:
  enum class Result { Acquired, HeldByAnother, Failed };
  virtual ~InstanceLock() = default;
  // Acquired when this process now holds the lock; HeldByAnother when a
  // running kavon does; Failed (why says what) when the folder cannot be
  // locked at all, in which case kavon must not run unguarded.
  virtual Result Acquire(std::string* why = nullptr) = 0;
};

// lockFile: "kavon.lock" in the program folder it guards.
std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockFile);

}  // namespace kavon::platform
