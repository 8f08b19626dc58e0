// Dialogs as modal Qt message boxes in the screen's style.
#pragma once

#include "platform/dialogs.h"

class QWidget;

namespace jov {

class DialogsQt : public Dialogs {
 public:
  bool Confirm(const std::string& text) override;
  void Notify(const std::string& text, int kind) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::string& text) override;
};

// Ends the modal windows stacked above `keep`, innermost first, as if each were dismissed: a
// question counts as answered No, a notice as acknowledged. `keep` and what lies below it stay
// up; with `keep` null every modal window ends. For shutting down, so that no box is left
// waiting for an operator who is gone. Returns how many it ended; never blocks.
int EndModalWindowsAbove(const QWidget* keep);

// The window a new question, notice or progress window stands above: the active window, else
// the modal one, else a visible top-level window; nullptr when none is shown. Where windows
// cannot be placed by the application (Wayland), the compositor centres a window over the one
// it stands above, and fills the display with one that stands above none.
QWidget* WindowToStandAbove();

}  // namespace jov
