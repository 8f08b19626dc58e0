// Taskbar on Linux: registers run a kiosk session without a panel, so there is none to hide.
#pragma once

#include "platform/taskbar.h"

namespace jov {

class TaskbarLinux : public Taskbar {
 public:
  void Hide() override {}
};

}  // namespace jov
