// HostPath on Linux: the executable behind /proc/self/exe.
#pragma once

#include "platform/host_path.h"

namespace jov {

class HostPathLinux : public HostPath {
 public:
  std::string ExecutablePath() override;
};

}  // namespace jov
