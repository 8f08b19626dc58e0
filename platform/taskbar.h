// The desktop's taskbar, which the launcher hides while it owns the screen.
#pragma once

namespace jov {

class Taskbar {
 public:
  virtual ~Taskbar() = default;
  // Hides the taskbar window when there is one; does nothing otherwise.
  virtual void Hide() = 0;
};

}  // namespace jov
