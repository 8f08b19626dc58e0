// A virtual X display for one test, and the windows on it found and driven with the keyboard.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace jov::testing {

class XDisplay {
 public:
  // Starts Xvfb (1024x768, never resetting when its last client leaves, so that a program
  // connecting just then is not refused) on a display number no other server holds; up() says
  // whether a client could connect to it. Files of its own go in dir.
  explicit XDisplay(const std::string& dir);
  ~XDisplay();
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  bool up() const { return up_; }
  // ":N", for DISPLAY.
  const std::string& name() const { return name_; }
  // The first visible window whose name is exactly title; empty when there is none.
  std::string Window(const std::string& title) const;
  // The first visible named window whose name is none of known: a question or a notice.
  std::string Other(const std::vector<std::string>& known) const;
  // Sends keys (xdotool key names: "alt+e", "Return", "0") to the window, one by one.
  bool Keys(const std::string& window, const std::vector<std::string>& keys) const;
  // A left click at a point of the window, in its own pixel coordinates.
  bool Click(const std::string& window, int x, int y) const;

 private:
  std::vector<std::string> Lines(const std::vector<std::string>& argv) const;
  std::string dir_;
  std::string name_;
  std::unique_ptr<Process> xvfb_;
  bool up_ = false;
};

// The sanitizer options for a launcher shown in a real window: those of this process, less the
// exit-time leak check. On the xcb platform LeakSanitizer's check races with Qt's D-Bus
// thread, which Qt does not join at exit, and faults inside the sanitizer ("Tracer caught
// signal 11"); the offscreen tests check the same launcher for leaks.
std::string RealWindowSanitizerOptions();

}  // namespace jov::testing
