#pragma once
// Holds the single-instance lock for as long as the object lives.
#include <memory>
#include <string>

namespace kavon::platform {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // True when this process now holds the lock; false when another holds it.
  virtual bool Acquire() = 0;
};

std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockPath);

}  // namespace kavon::platform
